// The game's WebAssembly is fetched and compiled while the rest of the page loads (a classic
// script in the page's head, run at once; page.js takes the module from here).
window.numotekaModule = WebAssembly.compileStreaming(fetch(new URL('numoteka.wasm', document.currentScript.src)));
