# The game for a web page (make web), built with Emscripten's CMake toolchain: the same sources
# compiled to WebAssembly, the program of web/main.cpp, the page of web/, its font and xterm.js,
# all in one folder that any static web server can serve (cmake/web_page.cmake).
set(NUMOTEKA_WEB_FOLDER ${CMAKE_SOURCE_DIR}/build/web CACHE PATH "Where the page is put together")
# What the page loads is gathered here first, and then put in the page's folder under its version.
set(NUMOTEKA_WEB_STAGE ${CMAKE_CURRENT_BINARY_DIR}/page)
set(NUMOTEKA_XTERM ${CMAKE_SOURCE_DIR}/web/node_modules/@xterm/xterm)
if(NOT EXISTS ${NUMOTEKA_XTERM}/lib/xterm.mjs)
  message(FATAL_ERROR "xterm.js is missing: run 'npm ci' in web/ (make web does)")
endif()

# The end of input is thrown to the game flow, so exceptions are caught (in JavaScript: that
# works with ASYNCIFY).
target_compile_options(numoteka_game PRIVATE -fexceptions)

add_executable(numoteka web/main.cpp)
target_link_libraries(numoteka PRIVATE numoteka_program)
target_compile_options(numoteka PRIVATE -fexceptions)
# The reads of the terminal and the store's locks wait for the browser: ASYNCIFY puts the
# game's stack aside meanwhile, for the calls into the page that src/console/terminal_web.cpp
# and src/records/store_lock_web.cpp declare with EM_ASYNC_JS.
target_link_options(numoteka PRIVATE
  -fexceptions
  -sASYNCIFY
  -sMODULARIZE -sEXPORT_ES6 -sEXPORT_NAME=createNumoteka
  -sENVIRONMENT=web
  -sALLOW_MEMORY_GROWTH
  -lidbfs.js)
set_target_properties(numoteka PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${NUMOTEKA_WEB_STAGE}/files)

include(cmake/web_page.cmake)
