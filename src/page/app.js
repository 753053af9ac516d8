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
// The URL is built inside the chain: encodeURIComponent throws on a lone
// surrogate (in a stored password or a typed expression), and that must end
// up in the status line like any failed request.
function request(action,expr){
return Promise.resolve().then(function(){
var base=baseUrl();
var query='action='+action+(expr===undefined?'':'&expr='+encodeURIComponent(expr));
var url=withContext(base+(base.indexOf('?')>=0?'&':'?')+query);
return fetch(url,{headers:{'Accept':'application/json'}});
}).then(function(r){return r.json()});
}
function errText(e){return String(e&&e.message?e.message:e)}

function duration(s){
if(s===null||s===undefined)return 'never';
if(s<0)return 'due';
var d=Math.floor(s/86400),h=Math.floor(s%86400/3600),m=Math.floor(s%3600/60);
if(d>0)return d+'d '+h+'h';
if(h>0)return h+'h '+m+'m';
if(m>0)return m+'m';
return '<1m';
}

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

function setBadge(ok,text){
var b=$('badge');
b.textContent=text;
b.className='pill '+(ok?'on':'off');
}

function passes(job,f){
if(!f)return true;
var hay=[job.command,job.source,job.expr,job.description].map(function(v){return v===undefined||v===null?'':String(v)}).join(' ').toLowerCase();
return hay.indexOf(f)>=0;
}

function render(){
var rows=$('rows');
while(rows.firstChild)rows.removeChild(rows.firstChild);
var f=$('q').value.trim().toLowerCase();
var jobs=Array.isArray(DATA.jobs)?DATA.jobs:[];
var shown=0,soonest=null,valid=0;
jobs.forEach(function(job){
if(job.valid===true)valid++;
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
nextCell.appendChild(el('div','src',first.local));
if(typeof first.in_seconds==='number'&&(soonest===null||first.in_seconds<soonest))soonest=first.in_seconds;
}else{
nextCell.appendChild(el('span','muted',DASH));
}
tr.appendChild(nextCell);
tr.appendChild(el('td','cmd',job.command));
rows.appendChild(tr);
shown++;
});
$('empty').classList.toggle('hide',shown>0);
$('k-total').textContent=String(jobs.length);
$('k-valid').textContent=String(valid);
$('k-next').textContent=soonest===null?DASH:duration(soonest);
$('k-src').textContent=String(Array.isArray(DATA.sources)?DATA.sources.length:0);
}

function load(){
var note=$('note');
note.textContent='loading\u2026';
request('jobs').then(function(a){
if(!a||a.ok!==true){
note.textContent=a&&a.error?a.error:'failed';
setBadge(false,'error');
return;
}
DATA=a;
setBadge(true,a.count+' job'+(a.count===1?'':'s'));
var src=Array.isArray(a.sources)?a.sources:[];
note.textContent=src.length?'Read from: '+src.join(', ')+' (as of '+a.now_local+' local)':'No crontab sources readable on this node (as of '+a.now_local+' local)';
render();
}).catch(function(e){
note.textContent='request failed: '+errText(e);
setBadge(false,'error');
});
}

function explain(){
var ex=$('ex').value.trim();
var note=$('exNote'),runs=$('exRuns');
while(runs.firstChild)runs.removeChild(runs.firstChild);
if(!ex){note.textContent='Type an expression first.';return}
note.textContent='checking\u2026';
request('explain',ex).then(function(a){
if(!a||a.ok!==true){note.textContent=a&&a.error?a.error:'failed';return}
if(!a.valid){note.textContent='invalid expression';return}
note.textContent=a.description+' '+DASH+(a.boot_only?' runs at boot, so there are no clock times.':' next 5 runs in your local time:');
(Array.isArray(a.next)?a.next:[]).forEach(function(r,i){
var row=el('div','run');
row.appendChild(el('span','n',i+1));
row.appendChild(el('span','u',r.utc));
row.appendChild(el('span','l',r.local+' local  \u00b7  in '+duration(r.in_seconds)));
runs.appendChild(row);
});
}).catch(function(e){
note.textContent='request failed: '+errText(e);
});
}

$('themeBtn').addEventListener('click',toggleTheme);
$('reloadBtn').addEventListener('click',load);
$('goBtn').addEventListener('click',explain);
$('ex').addEventListener('keydown',function(e){if(e.key==='Enter')explain()});
$('q').addEventListener('input',render);
load();
explain();
setInterval(load,60000);
})();
