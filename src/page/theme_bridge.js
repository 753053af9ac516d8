(function(){
var d=document.documentElement;
function apply(t){
if(t!=='light'&&t!=='dark')return;
if(d.getAttribute('data-theme')===t)return;
d.setAttribute('data-theme',t);
try{localStorage.setItem('vorn_theme',t)}catch(e){}
try{window.dispatchEvent(new CustomEvent('vorn-theme',{detail:t}))}catch(e){}
}
window.qzApplyTheme=apply;
window.qzTheme=function(){return d.getAttribute('data-theme')==='light'?'light':'dark'};
window.addEventListener('message',function(ev){
var m=ev&&ev.data;
if(m&&m.type==='qz-theme')apply(m.theme);
});
try{if(window.parent&&window.parent!==window)window.parent.postMessage({type:'qz-theme-request'},'*')}catch(e){}
})();
