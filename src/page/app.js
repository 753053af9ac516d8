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
function request(action,expr,syntax,extra){
return Promise.resolve().then(function(){
var base=baseUrl();
var query='action='+action+(action==='jobs'?'&history=1':'')+(expr===undefined?'':'&expr='+encodeURIComponent(expr))+(syntax?'&syntax='+syntax:'')+(extra||'');
var url=withContext(base+(base.indexOf('?')>=0?'&':'?')+query);
return fetch(url,{headers:{'Accept':'application/json'}});
}).then(function(r){return r.text().then(function(body){return answerOf(r,body)})});
}
function errText(e){return String(e&&e.message?e.message:e)}

// Each new request of a kind supersedes the one before: an answer that comes
// back after a later request was sent is dropped, whatever order they arrive in.
var seq={jobs:0,explain:0,timeline:0};
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

// What the node's scheduler skips or does otherwise than the file says: the
// job's own error (a file or line cron ignores, a script run-parts leaves
// out, a schedule that cannot be read) and its warnings.
function problemsOf(job){
var out=[];
if(job.valid!==true&&job.error)out.push(String(job.error));
if(Array.isArray(job.warnings))job.warnings.forEach(function(w){out.push(String(w))});
return out;
}
// The warnings under a job's meaning: a mark that a screen reader skips,
// and the word "Warning" that only a screen reader reads.
function warningList(job){
var ws=Array.isArray(job.warnings)?job.warnings:[];
if(!ws.length)return null;
var ul=el('ul','warns');
ul.setAttribute('aria-label','Warnings');
ws.forEach(function(w){
var li=el('li');
var mark=el('span','mark','\u26a0');
mark.setAttribute('aria-hidden','true');
li.appendChild(mark);
li.appendChild(el('span','sr','Warning: '));
li.appendChild(el('span',null,String(w)));
ul.appendChild(li);
});
return ul;
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
var shown=0,soonest=null,valid=0,problems=0,failed=0;
var onlyProblems=$('qProb').checked;
jobs.forEach(function(job){
if(!job||typeof job!=='object')return;
if(job.valid===true)valid++;
if(job.last&&job.last.outcome==='failed')failed++;
var probs=problemsOf(job);
problems+=probs.length;
if(!passes(job,f)||(onlyProblems&&!probs.length))return;
var tr=el('tr');
tr.appendChild(el('td','src',job.source));
tr.appendChild(el('td','mono',job.expr));
var meaning=el('td');
meaning.appendChild(job.valid?el('div',null,job.description):el('div','err','invalid: '+job.error));
var warns=warningList(job);
if(warns)meaning.appendChild(warns);
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
empty.textContent=f&&jobs.length?'No job matches \u201c'+typed+'\u201d.':onlyProblems&&jobs.length?'No problems found.':'No scheduled entries found on this node.';
empty.classList.toggle('hide',shown>0);
$('qCount').textContent=f||onlyProblems?shown+' of '+jobs.length:'';
$('k-prob').textContent=String(problems);
$('k-total').textContent=String(jobs.length);
$('k-valid').textContent=String(valid);
$('k-failed').textContent=String(failed);
$('k-next').textContent=soonest===null?DASH:duration(soonest);
$('k-src').textContent=String(Array.isArray(DATA.sources)?DATA.sources.length:0);
renderTimeline();
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
loadTimeline();
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

// The length of s in UTF-8 bytes, as the program counts it (a lone
// surrogate as the three bytes of its replacement).
function utf8Length(s){
var n=0;
for(var i=0;i<s.length;i++){
var c=s.charCodeAt(i);
if(c<0x80)n+=1;
else if(c<0x800)n+=2;
else if(c>=0xd800&&c<0xdc00&&(s.charCodeAt(i+1)&0xfc00)===0xdc00){n+=4;i++}
else n+=3;
}
return n;
}
// The longest text the program judges; a longer one it would refuse, and a
// host may refuse the request itself (431) before the program sees it.
function exprMax(){var m=parseInt($('ex').getAttribute('data-max'),10);return m>0?m:1023}

// The playground's language: 'cron' or 'systemd' (calendar events), and
// the last answer shown, whose conversion the switch carries over.
var SYNTAX='cron';
var SHOWN=null;
var LANG={
cron:{label:'Cron expression',placeholder:'minute hour day-of-month month day-of-week'},
systemd:{label:'Calendar event',placeholder:'OnCalendar= value, e.g. Mon..Fri *-*-* 09:00'}
};
// A pasted unit-file line "OnCalendar=value" is a calendar event: the value
// is kept and the playground switches to systemd. True when it was one.
function takeOnCalendar(){
var ex=$('ex');
var m=/^\s*OnCalendar\s*=\s*/i.exec(ex.value);
if(!m)return false;
ex.value=ex.value.slice(m[0].length);
setSyntax('systemd',false);
return true;
}
// Switches the language. carry set: an answer just shown in the other
// language that names a single equivalent puts it in the input.
function setSyntax(s,carry){
if(s===SYNTAX)return;
var a=SHOWN;
if(carry&&a&&a.valid){
if(s==='systemd'&&a.systemd&&Array.isArray(a.systemd.on_calendar)&&a.systemd.on_calendar.length===1)$('ex').value=a.systemd.on_calendar[0];
if(s==='cron'&&a.cron&&typeof a.cron.expr==='string')$('ex').value=a.cron.expr;
}
SYNTAX=s;
$('synCron').setAttribute('aria-pressed',s==='cron'?'true':'false');
$('synSystemd').setAttribute('aria-pressed',s==='systemd'?'true':'false');
$('exLabel').textContent=LANG[s].label;
$('ex').setAttribute('placeholder',LANG[s].placeholder);
}
function clearConversion(){
$('exConv').classList.add('hide');
$('exConvText').textContent='';
$('exConvNote').textContent='';
$('copyNote').textContent='';
$('exNorm').classList.add('hide');
$('exNorm').textContent='';
}
// The other language's form of the answer: a cron answer's timer as a
// ready [Timer] section, a calendar event's cron line or why there is none.
function showConversion(a){
var text='',note='',title;
if(SYNTAX==='cron'){
var t=a.systemd&&typeof a.systemd==='object'?a.systemd:null;
if(!t)return;
title='As a systemd timer';
var lines=['[Timer]'];
if(Array.isArray(t.on_calendar))t.on_calendar.forEach(function(v){lines.push('OnCalendar='+v)});
if(typeof t.on_boot_sec==='string')lines.push('OnBootSec='+t.on_boot_sec);
text=lines.join('\n')+'\n';
note=typeof t.note==='string'?t.note:'';
}else{
var c=a.cron&&typeof a.cron==='object'?a.cron:null;
if(!c)return;
title='As a cron line';
if(typeof c.expr==='string')text=c.expr;
note=typeof c.reason==='string'?'No cron line: '+c.reason+'.':typeof c.note==='string'?c.note:'';
}
$('exConvTitle').textContent=title;
$('exConvText').textContent=text;
$('exConvNote').textContent=note;
$('copyBtn').classList.toggle('hide',!text);
$('copyBtn').setAttribute('aria-label',SYNTAX==='cron'?'Copy the [Timer] section':'Copy the cron line');
$('exConv').classList.remove('hide');
}
// Copies the shown conversion; the status says whether it worked.
function copyConversion(){
var text=$('exConvText').textContent,say=$('copyNote');
function fallback(){
var ok=false;
try{
var r=document.createRange();
r.selectNodeContents($('exConvText'));
var sel=window.getSelection();
sel.removeAllRanges();
sel.addRange(r);
ok=document.execCommand('copy');
}catch(e){}
say.textContent=ok?'Copied.':'Select the text to copy it.';
}
if(navigator.clipboard&&navigator.clipboard.writeText){
navigator.clipboard.writeText(text).then(function(){say.textContent='Copied.'},fallback);
}else fallback();
}

function explain(){
takeOnCalendar();
var ex=$('ex').value.trim();
var note=$('exNote'),runs=$('exRuns');
var current=latest('explain');
var syntax=SYNTAX;
while(runs.firstChild)runs.removeChild(runs.firstChild);
clearConversion();
SHOWN=null;
if(!ex){note.textContent='Type an expression first.';return}
if(utf8Length(ex)>exprMax()){note.textContent='invalid expression: expression too long';return}
note.textContent='checking\u2026';
request('explain',ex,syntax==='systemd'?'systemd':'').then(function(a){
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
SHOWN=a;
if(syntax==='systemd'&&typeof a.normalized==='string'){
$('exNorm').textContent='Normalized: '+a.normalized;
$('exNorm').classList.remove('hide');
}
showConversion(a);
}).catch(function(e){
if(!current())return;
note.textContent='request failed: '+errText(e);
});
}
function switchTo(s){
if(s===SYNTAX)return;
setSyntax(s,true);
explain();
}

// ---- Timeline: every run of the next 24 hours or 7 days, one lane per job.
var TL={hours:24,answer:null,table:false};
// The node's offset from UTC at the answer's time, in seconds: its local
// stamp read as if it were UTC, less the UTC stamp (whole minutes).
function nodeOffset(a){
var u=/^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d)/.exec(String(a.now_utc||''));
var l=/^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d)/.exec(String(a.now_local||''));
if(!u||!l)return 0;
return (Date.UTC(+l[1],l[2]-1,+l[3],+l[4],+l[5])-Date.UTC(+u[1],u[2]-1,+u[3],+u[4],+u[5]))/1000;
}
function stampSeconds(utc){
var m=/^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z$/.exec(String(utc||''));
return m?Date.UTC(+m[1],m[2]-1,+m[3],+m[4],+m[5],+m[6])/1000:NaN;
}
// The node's offsets from UTC over the window, [{t,off}] ascending: the
// answer's node_offsets (from from_utc), else the one offset of its time.
function nodeOffsets(a){
var start=stampSeconds(a.from_utc),list=[];
if(Array.isArray(a.node_offsets))a.node_offsets.forEach(function(o){
var at=Number(o&&o.at),off=Number(o&&o.offset);
if(isFinite(at)&&isFinite(off)&&isFinite(start))list.push({t:start+at,off:off});
});
if(!list.length)list.push({t:0,off:nodeOffset(a)});
list[0].t=-Infinity;
return list;
}
function offsetAt(offs,t){
var off=offs[0].off;
for(var i=1;i<offs.length&&offs[i].t<=t;i++)off=offs[i].off;
return off;
}
// The times in [start,end) where the node's clock shows a multiple of step
// (midnight, every third hour), across its clock changes.
function nodeMarks(start,end,offs,step){
var out=[];
for(var i=0;i<offs.length;i++){
var from=Math.max(start,offs[i].t),to=Math.min(end,i+1<offs.length?offs[i+1].t:end),off=offs[i].off;
for(var t=Math.ceil((from+off)/step)*step-off;t<to;t+=step)out.push(t);
}
return out;
}
// A time (seconds since 1970) as the node's clock shows it, and as the viewer's.
function nodeClock(t,offs,withDay){
var d=new Date((t+offsetAt(offs,t))*1000);
var hm=pad(d.getUTCHours(),2)+':'+pad(d.getUTCMinutes(),2);
return withDay?['Sun','Mon','Tue','Wed','Thu','Fri','Sat'][d.getUTCDay()]+' '+hm:hm;
}
function viewerClock(t,withDay){
var d=new Date(t*1000);
var hm=pad(d.getHours(),2)+':'+pad(d.getMinutes(),2);
return withDay?['Sun','Mon','Tue','Wed','Thu','Fri','Sat'][d.getDay()]+' '+hm:hm;
}
function svgEl(tag,attrs){
var e=document.createElementNS('http://www.w3.org/2000/svg',tag);
for(var k in attrs)e.setAttribute(k,attrs[k]);
return e;
}
function loadTimeline(){
var current=latest('timeline');
request('timeline',undefined,undefined,'&hours='+TL.hours).then(function(a){
if(!current())return;
TL.answer=a&&a.ok===true?a:null;
$('tlNote').textContent=TL.answer?'':'timeline: '+(a&&a.error?a.error:'failed');
renderTimeline();
}).catch(function(e){
if(!current())return;
TL.answer=null;
$('tlNote').textContent='timeline request failed: '+errText(e);
renderTimeline();
});
}
function setSpan(h){
TL.hours=h;
$('tl24').setAttribute('aria-pressed',String(h===24));
$('tl168').setAttribute('aria-pressed',String(h===168));
loadTimeline();
}
function toggleTlTable(){
TL.table=!TL.table;
$('tlTableBtn').setAttribute('aria-pressed',String(TL.table));
$('tlTable').classList.toggle('hide',!TL.table);
}
// The lanes that the table's filter shows, grouped by source in the order
// the sources come.
function shownLanes(a){
var f=$('q').value.trim().toLowerCase(),onlyProblems=$('qProb').checked;
var jobs=Array.isArray(DATA.jobs)?DATA.jobs:[];
var groups=[],bySource={};
(Array.isArray(a.jobs)?a.jobs:[]).forEach(function(lane){
if(!lane||typeof lane!=='object')return;
var job=jobs[lane.index]&&jobs[lane.index].command===lane.command?jobs[lane.index]:lane;
if(!passes(job,f)||(onlyProblems&&!problemsOf(job).length))return;
var s=String(lane.source);
if(!bySource[s]){bySource[s]={source:s,lanes:[]};groups.push(bySource[s])}
bySource[s].lanes.push(lane);
});
return groups;
}
// One named entry per tick: the run times, or for a frequent job its count
// per hour, each as the node's and the viewer's clock show it.
function laneItems(lane,start,off,week){
var out=[];
if(Array.isArray(lane.counts)){
var b=Number(TL.answer.bucket_seconds)||3600;
lane.counts.forEach(function(c,k){
if(!c)return;
var t=start+k*b;
out.push({from:t,to:t+b,count:c,label:c+' run'+(c===1?'':'s')+' from '+nodeClock(t,off,week)+' node time ('+viewerClock(t,week)+' yours)'});
});
}else if(Array.isArray(lane.runs)){
lane.runs.forEach(function(s){
var t=TL.nowT+Number(s);
out.push({from:t,to:t,count:1,label:'Runs at '+nodeClock(t,off,true)+' node time ('+viewerClock(t,true)+' yours), in '+duration(Number(s))});
});
}
return out;
}
function laneName(lane){return String(lane.command||lane.expr||'job '+lane.index)}
// The axis: the current time, the hours (or days) of the node's clock and
// of the viewer's, and the busiest minutes.
function drawAxis(start,span,off,busiest,week){
var svg=svgEl('svg',{'class':'tl-axis',viewBox:'0 0 1000 40',preserveAspectRatio:'none','aria-hidden':'true',focusable:'false'});
var step=week?86400:3*3600;
nodeMarks(start,start+span,off,step).forEach(function(t){
var x=(t-start)/span*1000;
svg.appendChild(svgEl('line',{x1:x,x2:x,y1:0,y2:40,'class':'tl-grid'}));
});
busiest.forEach(function(b){
var x=(stampSeconds(b.utc)-start)/span*1000;
svg.appendChild(svgEl('rect',{x:x-1.5,y:0,width:3,height:40,'class':'tl-busy'}));
});
svg.appendChild(svgEl('rect',{x:0,y:0,width:3,height:40,'class':'tl-now'}));
return svg;
}
function axisLabels(start,span,off,week){
var row=el('div','tl-labels');
row.setAttribute('aria-hidden','true');
var step=week?86400:(window.innerWidth<640?6:3)*3600;
nodeMarks(start,start+span-step/3,off,step).forEach(function(t){
var s=el('span','tl-label');
s.style.left=((t-start)/span*100)+'%';
s.appendChild(el('span',null,week?nodeClock(t,off,true).slice(0,3):nodeClock(t,off)));
s.appendChild(el('span','tl-you',week?viewerClock(t,true).slice(0,3):viewerClock(t)));
row.appendChild(s);
});
return row;
}
function renderTimeline(){
var chart=$('tlChart'),table=$('tlRows'),busy=$('tlBusy'),clock=$('tlClock');
while(chart.firstChild)chart.removeChild(chart.firstChild);
while(table.firstChild)table.removeChild(table.firstChild);
var a=TL.answer;
if(!a){busy.textContent='';clock.textContent='';return}
var start=stampSeconds(a.from_utc),span=(Number(a.hours)||24)*3600,off=nodeOffsets(a),week=span>86400;
TL.nowT=stampSeconds(a.now_utc);
var busiest=Array.isArray(a.busiest)?a.busiest.filter(function(b){return b&&b.jobs>1}):[];
var top=busiest.length?busiest[0]:null;
busy.textContent=top?top.jobs+' jobs start at '+nodeClock(stampSeconds(top.utc),off,week)+' node time ('+viewerClock(stampSeconds(top.utc),week)+' yours), the busiest minute'+(week?' of the week':' of the day')+'.':'No two jobs start in the same minute.';
clock.textContent='Now: '+nodeClock(TL.nowT,off,true)+' node time, '+viewerClock(TL.nowT,true)+' yours. Upper labels node time, lower yours.';
var marks=busiest.filter(function(b){return top&&b.jobs===top.jobs});
var head=el('div','tl-row tl-head');
head.appendChild(el('div','tl-name muted','next '+(week?'7 days':'24 hours')));
var axis=el('div','tl-track');
axis.appendChild(drawAxis(start,span,off,marks,week));
axis.appendChild(axisLabels(start,span,off,week));
head.appendChild(axis);
chart.appendChild(head);
var lanes=0;
shownLanes(a).forEach(function(g){
var sec=el('section','tl-group');
sec.setAttribute('aria-label','Jobs of '+g.source);
sec.appendChild(el('h3','tl-src',g.source));
g.lanes.forEach(function(lane){
lanes++;
var items=laneItems(lane,start,off,week);
var row=el('div','tl-row');
var name=el('div','tl-name',laneName(lane));
name.title=String(lane.expr||'');
row.appendChild(name);
var track=el('div','tl-track');
var svg=svgEl('svg',{'class':'tl-lane',viewBox:'0 0 1000 18',preserveAspectRatio:'none','aria-hidden':'true',focusable:'false'});
svg.appendChild(svgEl('rect',{x:0,y:8,width:1000,height:2,'class':'tl-base'}));
var most=1;
items.forEach(function(it){if(it.count>most)most=it.count});
items.forEach(function(it){
var x=(it.from-start)/span*1000;
if(it.to>it.from){
var h=4+14*it.count/most;
svg.appendChild(svgEl('rect',{x:x,y:18-h,width:Math.max(1,(it.to-it.from)/span*1000-.5),height:h,'class':'tl-bar'}));
}else{
svg.appendChild(svgEl('rect',{x:x-1,y:1,width:2.5,height:16,'class':'tl-tick'}));
}
});
track.appendChild(svg);
var ul=el('ul','sr');
ul.setAttribute('aria-label',laneName(lane)+': '+(items.length?(Array.isArray(lane.counts)?lane.total+' runs':items.length+' run'+(items.length===1?'':'s')):'no runs')+' in the '+(week?'next 7 days':'next 24 hours'));
items.forEach(function(it){ul.appendChild(el('li','tl-item',it.label))});
if(!items.length)ul.appendChild(el('li',null,'No runs in this window'));
track.appendChild(ul);
row.appendChild(track);
sec.appendChild(row);
var tr=el('tr');
tr.appendChild(el('td','src',g.source));
tr.appendChild(el('td','cmd',laneName(lane)));
tr.appendChild(el('td','mono',lane.expr));
tr.appendChild(el('td',null,items.length?items.map(function(it){return it.label}).join('; '):DASH));
table.appendChild(tr);
});
chart.appendChild(sec);
});
if(!lanes)chart.appendChild(el('div','empty','No job to draw.'));
}

nameThemeButton();
try{new MutationObserver(nameThemeButton).observe(root,{attributes:true,attributeFilter:['data-theme']})}catch(e){}
$('themeBtn').addEventListener('click',toggleTheme);
$('reloadBtn').addEventListener('click',load);
$('tl24').addEventListener('click',function(){setSpan(24)});
$('tl168').addEventListener('click',function(){setSpan(168)});
$('tlTableBtn').addEventListener('click',toggleTlTable);
$('goBtn').addEventListener('click',explain);
$('ex').addEventListener('keydown',function(e){if(e.key==='Enter')explain()});
$('ex').addEventListener('input',function(){if(takeOnCalendar())explain()});
$('synCron').addEventListener('click',function(){switchTo('cron')});
$('synSystemd').addEventListener('click',function(){switchTo('systemd')});
$('copyBtn').addEventListener('click',copyConversion);
$('q').addEventListener('input',render);
$('qProb').addEventListener('change',render);
window.addEventListener('resize',fitTable);
$('q').addEventListener('keydown',function(e){
if(e.key==='Escape'&&this.value){this.value='';render()}
});
load();
explain();
setInterval(function(){load(true)},60000);
})();
