(function(){
'use strict';
var DASH='\u2014';
function $(id){return document.getElementById(id)}
function el(tag,cls,text){
var e=document.createElement(tag);
if(cls)e.className=cls;
if(text!==undefined&&text!==null)e.textContent=String(text);
return e;
}
function store(key){try{return localStorage.getItem(key)||''}catch(e){return ''}}
var params;
try{params=new URLSearchParams(location.search)}catch(e){params=new URLSearchParams('')}
function param(name){return params.get(name)||''}

var node=param('node');
var pwd=param('pwd');
if(!pwd&&node)pwd=store('vorn_pwd_'+node);
if(!pwd)pwd=store('vorn_active_pwd');
var DATA={jobs:[]};

function baseUrl(){
var parts=[];
['node','plugin','id','embed','pwd'].forEach(function(k){
var v=param(k);
if(v)parts.push(k+'='+encodeURIComponent(v));
});
return location.pathname+(parts.length?'?'+parts.join('&'):'');
}
function withContext(url){
if(!node&&!pwd)return url;
url+=url.indexOf('?')>=0?'&':'?';
if(node)url+='node='+encodeURIComponent(node);
if(node&&pwd)url+='&';
if(pwd)url+='pwd='+encodeURIComponent(pwd);
return url;
}
// A host or a proxy in front of the program may answer with its own page (a
// 431 or 502 in HTML); that is a failed request named by its status, not a
// parse error. A JSON answer with ok false (the 401 answer) still counts as
// an answer whatever its status, so its own error text is shown.
function answerOf(r,body){
var a=null;
try{a=JSON.parse(body)}catch(e){}
if(a&&typeof a==='object'&&(r.ok||a.ok===false))return a;
var status='HTTP '+r.status+(r.statusText?' '+r.statusText:'');
throw new Error(r.ok?status+', the answer is not JSON':status);
}
// The URL is built inside the chain: encodeURIComponent throws on a lone
// surrogate (in a stored password or a typed expression), and that must end
// up in the status line like any failed request.
function request(action,expr){
return Promise.resolve().then(function(){
var base=baseUrl();
var query='action='+action+(action==='jobs'?'&history=1':'')+(expr===undefined?'':'&expr='+encodeURIComponent(expr));
var url=withContext(base+(base.indexOf('?')>=0?'&':'?')+query);
return fetch(url,{headers:{'Accept':'application/json'}});
}).then(function(r){return r.text().then(function(body){return answerOf(r,body)})});
}
function errText(e){return String(e&&e.message?e.message:e)}

// Each new request of a kind supersedes the one before: an answer that comes
// back after a later request was sent is dropped, whatever order they arrive in.
var seq={jobs:0,explain:0};
function latest(kind){
var mine=++seq[kind];
return function(){return mine===seq[kind]};
}

function duration(s){
if(s===null||s===undefined)return 'never';
if(s<0)return 'due';
var d=Math.floor(s/86400),h=Math.floor(s%86400/3600),m=Math.floor(s%3600/60);
if(d>0)return d+'d '+h+'h';
if(h>0)return h+'h '+m+'m';
if(m>0)return m+'m';
return '<1m';
}

function pad(n,w){n=String(n);while(n.length<w)n='0'+n;return n}
// The viewer's own clock time of a stamp "YYYY-MM-DDTHH:MM:SSZ", as
// "YYYY-MM-DD HH:MM"; empty for anything else. The answers' `local` stamps
// are the node's zone, which need not be the viewer's.
function viewerTime(utc){
var m=/^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z$/.exec(typeof utc==='string'?utc:'');
if(!m)return '';
var d=new Date(0);
d.setUTCFullYear(+m[1],m[2]-1,+m[3]);
d.setUTCHours(+m[4],+m[5],+m[6],0);
if(isNaN(d.getTime()))return '';
return pad(d.getFullYear(),4)+'-'+pad(d.getMonth()+1,2)+'-'+pad(d.getDate(),2)+' '+pad(d.getHours(),2)+':'+pad(d.getMinutes(),2);
}
// A run's time for the viewer; the node's own stamp only when the UTC one is
// unusable, and then called what it is.
function runTime(run,label){
var t=viewerTime(run.utc);
return t?t+label:String(run.local===undefined||run.local===null?'':run.local)+' node time';
}
function nodeTitle(local){return typeof local==='string'&&local?'node time: '+local:''}

var inFrame=false;
try{inFrame=window.self!==window.top}catch(e){inFrame=true}
var root=document.documentElement;
if(inFrame){
var t=param('theme')||store('vorn_theme');
if(t)root.setAttribute('data-theme',t);
}else{
var st=store('vorn_theme');
if(!st){
try{st=window.matchMedia('(prefers-color-scheme: light)').matches?'light':'dark'}catch(e){st='dark'}
}
root.setAttribute('data-theme',st);
}
function toggleTheme(){
var next=root.getAttribute('data-theme')==='light'?'dark':'light';
root.setAttribute('data-theme',next);
try{localStorage.setItem('vorn_theme',next)}catch(e){}
}
// The button's accessible name tells the theme in force, however it was set
// (this button, the host's messages, the early script).
function nameThemeButton(){
$('themeBtn').setAttribute('aria-label','Theme: '+(root.getAttribute('data-theme')==='light'?'light':'dark'));
}

function setBadge(ok,text){
var b=$('badge');
b.textContent=text;
b.className='pill '+(ok?'on':'off');
}

function passes(job,f){
if(!f)return true;
var last=job.last&&typeof job.last==='object'?job.last:{};
var hay=[job.command,job.source,job.expr,job.description,job.user,job.kind,last.outcome,last.detail].map(function(v){return v===undefined||v===null?'':String(v)}).join(' ').toLowerCase();
return hay.indexOf(f)>=0;
}

// The last run: how long ago it started and how it ended, a failure in the
// error colour with its detail; a dash where nothing is recorded.
function lastCell(last){
var cell=el('td','last');
if(!last||typeof last!=='object'){
cell.appendChild(el('span','muted',DASH));
return cell;
}
var ago=typeof last.ago_seconds==='number'?duration(last.ago_seconds)+' ago':'';
var outcome=String(last.outcome||'');
var failed=outcome==='failed';
cell.appendChild(el('div','in',ago));
var what=el('div',failed?'err':'src',outcome+(last.detail?': '+last.detail:''));
what.title=(last.local?last.local+' local, ':'')+'from '+String(last.from||'');
cell.appendChild(what);
return cell;
}

function render(){
var rows=$('rows');
while(rows.firstChild)rows.removeChild(rows.firstChild);
var typed=$('q').value.trim();
var f=typed.toLowerCase();
var jobs=Array.isArray(DATA.jobs)?DATA.jobs:[];
var shown=0,soonest=null,valid=0,failed=0;
jobs.forEach(function(job){
if(!job||typeof job!=='object')return;
if(job.valid===true)valid++;
if(job.last&&job.last.outcome==='failed')failed++;
if(!passes(job,f))return;
var tr=el('tr');
tr.appendChild(el('td','src',job.source));
tr.appendChild(el('td','mono',job.expr));
var meaning=el('td');
meaning.appendChild(job.valid?el('div',null,job.description):el('div','err','invalid: '+job.error));
tr.appendChild(meaning);
var nextCell=el('td');
var first=Array.isArray(job.next)&&job.next.length?job.next[0]:null;
if(first){
nextCell.appendChild(el('div','in',duration(first.in_seconds)));
var when=el('div','src when',runTime(first,''));
if(nodeTitle(first.local))when.title=nodeTitle(first.local);
nextCell.appendChild(when);
if(typeof first.in_seconds==='number'&&(soonest===null||first.in_seconds<soonest))soonest=first.in_seconds;
}else{
nextCell.appendChild(el('span','muted',DASH));
}
tr.appendChild(nextCell);
tr.appendChild(lastCell(job.last));
var user=el('td','user');
user.appendChild(job.user?el('span',null,job.user):el('span','muted',DASH));
tr.appendChild(user);
tr.appendChild(el('td','cmd',job.command));
rows.appendChild(tr);
shown++;
});
var empty=$('empty');
empty.textContent=f&&jobs.length?'No job matches \u201c'+typed+'\u201d.':'No scheduled entries found on this node.';
empty.classList.toggle('hide',shown>0);
$('qCount').textContent=f?shown+' of '+jobs.length:'';
$('k-total').textContent=String(jobs.length);
$('k-valid').textContent=String(valid);
$('k-failed').textContent=String(failed);
$('k-next').textContent=soonest===null?DASH:duration(soonest);
$('k-src').textContent=String(Array.isArray(DATA.sources)?DATA.sources.length:0);
fitTable();
}

// A table wider than the screen scrolls sideways; only then is it a stop of
// the Tab key, so that the keyboard can scroll it too.
function fitTable(){
var w=document.querySelector('.tblwrap');
if(!w)return;
if(w.scrollWidth>w.clientWidth)w.setAttribute('tabindex','0');else w.removeAttribute('tabindex');
}

// The minute timer reloads quietly: no "loading" in the status line, which
// a screen reader would otherwise announce every minute.
function load(quiet){
var note=$('note');
var current=latest('jobs');
if(quiet!==true)note.textContent='loading\u2026';
request('jobs').then(function(a){
if(!current())return;
if(a.ok!==true){
note.textContent=a.error?a.error:'failed';
setBadge(false,'error');
return;
}
DATA=a;
setBadge(true,a.count+' job'+(a.count===1?'':'s'));
var src=Array.isArray(a.sources)?a.sources:[];
var now=viewerTime(a.now_utc);
var asOf=' (as of '+(now?now+' local)':(a.now_local||'')+' node time)');
note.textContent=src.length?'Read from: '+src.join(', ')+asOf:'No crontab sources readable on this node'+asOf;
render();
}).catch(function(e){
if(!current())return;
note.textContent='request failed: '+errText(e);
setBadge(false,'error');
});
}

function explain(){
var ex=$('ex').value.trim();
var note=$('exNote'),runs=$('exRuns');
var current=latest('explain');
while(runs.firstChild)runs.removeChild(runs.firstChild);
if(!ex){note.textContent='Type an expression first.';return}
note.textContent='checking\u2026';
request('explain',ex).then(function(a){
if(!current())return;
if(a.ok!==true){note.textContent=a.error?a.error:'failed';return}
if(!a.valid){note.textContent='invalid expression'+(a.error?': '+a.error:'');return}
var next=Array.isArray(a.next)?a.next:[];
// The search looks 20 years ahead; a schedule with no match in that time
// (31 February) never runs.
var tail=a.boot_only?' runs at boot, so there are no clock times.':next.length?' next 5 runs in your local time:':' never runs: no matching time within the next 20 years.';
var list=document.createDocumentFragment();
next.forEach(function(r,i){
var row=el('div','run');
row.appendChild(el('span','n',i+1));
row.appendChild(el('span','u',r.utc));
var l=el('span','l',runTime(r,' local')+'  \u00b7  in '+duration(r.in_seconds));
if(nodeTitle(r.local))l.title=nodeTitle(r.local);
row.appendChild(l);
list.appendChild(row);
});
note.textContent=a.description+' '+DASH+tail;
while(runs.firstChild)runs.removeChild(runs.firstChild);
runs.appendChild(list);
}).catch(function(e){
if(!current())return;
note.textContent='request failed: '+errText(e);
});
}

nameThemeButton();
try{new MutationObserver(nameThemeButton).observe(root,{attributes:true,attributeFilter:['data-theme']})}catch(e){}
$('themeBtn').addEventListener('click',toggleTheme);
$('reloadBtn').addEventListener('click',load);
$('goBtn').addEventListener('click',explain);
$('ex').addEventListener('keydown',function(e){if(e.key==='Enter')explain()});
$('q').addEventListener('input',render);
window.addEventListener('resize',fitTable);
$('q').addEventListener('keydown',function(e){
if(e.key==='Escape'&&this.value){this.value='';render()}
});
load();
explain();
setInterval(function(){load(true)},60000);
})();
