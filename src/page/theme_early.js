(function(){
var d=document.documentElement,q='',t='';
try{q=location.search||''}catch(e){}
var m=/[?&]theme=(light|dark)/.exec(q);
if(m)t=m[1];
if(!t){try{var s=localStorage.getItem('vorn_theme');if(s==='light'||s==='dark')t=s}catch(e){}}
if(!t){try{t=window.matchMedia('(prefers-color-scheme: light)').matches?'light':'dark'}catch(e){t='dark'}}
d.setAttribute('data-theme',t);
if(/[?&]embed=(1|true)(&|$)/.test(q))d.classList.add('embedded');
try{localStorage.setItem('vorn_theme',t)}catch(e){}
})();
