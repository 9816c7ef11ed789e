# The page around the game (included by cmake/web.cmake): the page's files, xterm.js, the font
# cut to the game's texts, the icons, the manifest and the service worker, gathered in
# NUMOTEKA_WEB_STAGE and put in NUMOTEKA_WEB_FOLDER by web/publish.py under their version.

# Debian's python3, which has Debian's fontTools and brotli (for WOFF2).
find_program(NUMOTEKA_PYTHON python3 HINTS /usr/bin)
execute_process(COMMAND ${NUMOTEKA_PYTHON} -c "import fontTools.subset, brotli"
  RESULT_VARIABLE python_lacks OUTPUT_QUIET ERROR_QUIET)
if(python_lacks)
  message(FATAL_ERROR "${NUMOTEKA_PYTHON} cannot import fontTools and brotli: "
    "install python3-fonttools and python3-brotli")
endif()
set(NUMOTEKA_FONT_COLLECTION /usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc
  CACHE FILEPATH "The font collection the page's font is cut from")
set(NUMOTEKA_FONT_FACE "Noto Sans Mono CJK JP" CACHE STRING "The face of the page's font")
set(NUMOTEKA_FONT_COPYRIGHT /usr/share/doc/fonts-noto-cjk/copyright
  CACHE FILEPATH "The Debian copyright file with the font's licence")
foreach(needed ${NUMOTEKA_FONT_COLLECTION} ${NUMOTEKA_FONT_COPYRIGHT})
  if(NOT EXISTS ${needed})
    message(FATAL_ERROR "${needed} is missing: install fonts-noto-cjk")
  endif()
endforeach()

set(stage ${NUMOTEKA_WEB_STAGE})
set(web ${CMAKE_SOURCE_DIR}/web)

# The page's script, page.js, and the modules it imports, each staged beside it. index.html
# preloads the modules.
set(page_modules page.js game_terminal.js screen.js line_editor.js touch_keys.js share_bar.js
  world_ranking.js replay_bar.js statistics.js settings.js status_panel.js transcript.js)
list(TRANSFORM page_modules PREPEND "${web}/" OUTPUT_VARIABLE page_module_sources)

# Copied as they are, but for xterm.js's source map line.
set(staged)
set(copied
    "${web}/index.html|index.html"
    "${web}/sw.js|sw.js"
    "${web}/manifest.webmanifest|manifest.webmanifest"
    "${web}/boot.js|files/boot.js"
    "${NUMOTEKA_XTERM}/lib/xterm.mjs|files/xterm.js"
    "${NUMOTEKA_XTERM}/css/xterm.css|files/xterm.css")
foreach(module ${page_modules})
  list(APPEND copied "${web}/${module}|files/${module}")
endforeach()
foreach(pair ${copied})
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 name)
  add_custom_command(OUTPUT ${stage}/${name}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${source} -DTARGET=${stage}/${name}
            -P ${CMAKE_SOURCE_DIR}/cmake/web_asset.cmake
    DEPENDS ${source} ${CMAKE_SOURCE_DIR}/cmake/web_asset.cmake
    VERBATIM)
  list(APPEND staged ${stage}/${name})
endforeach()

# The font holds the characters of the game's string literals and of the page's own texts:
# those of every module and of index.html.
file(GLOB_RECURSE game_texts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*.cpp ${CMAKE_SOURCE_DIR}/src/*.h)
set(page_texts ${page_module_sources} ${web}/index.html)
set(font ${stage}/files/numoteka-mono.woff2)
add_custom_command(OUTPUT ${font} ${stage}/files/numoteka-mono-OFL.txt
  COMMAND ${NUMOTEKA_PYTHON} ${web}/make_font.py ${NUMOTEKA_FONT_COLLECTION} ${NUMOTEKA_FONT_FACE}
          ${font} ${stage}/files/numoteka-mono-OFL.txt ${NUMOTEKA_FONT_COPYRIGHT}
          ${game_texts} -- ${page_texts}
  DEPENDS ${web}/make_font.py ${NUMOTEKA_FONT_COLLECTION} ${game_texts} ${page_texts}
  COMMENT "Cutting the page's font to the game's texts"
  VERBATIM)
# The icons: the title's ぬ.
add_custom_command(OUTPUT ${stage}/icon-192.png ${stage}/icon-512.png
  COMMAND ${NUMOTEKA_PYTHON} ${web}/make_icons.py ${font} ぬ
          192:${stage}/icon-192.png 512:${stage}/icon-512.png
  DEPENDS ${web}/make_icons.py ${font}
  VERBATIM)
list(APPEND staged ${font} ${stage}/files/numoteka-mono-OFL.txt ${stage}/icon-192.png
  ${stage}/icon-512.png)

set(published ${CMAKE_CURRENT_BINARY_DIR}/published.stamp)
add_custom_command(OUTPUT ${published}
  COMMAND ${NUMOTEKA_PYTHON} ${web}/publish.py ${stage} ${NUMOTEKA_WEB_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E touch ${published}
  DEPENDS ${web}/publish.py ${staged} numoteka
  VERBATIM)
add_custom_target(numoteka_web_page ALL DEPENDS ${published})
