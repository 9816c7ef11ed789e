# Copies SOURCE to TARGET for the web page, without a last line that names a source map.
file(READ ${SOURCE} text)
string(REGEX REPLACE "\n//# sourceMappingURL=[^\n]*\n?$" "\n" text "${text}")
file(WRITE ${TARGET} "${text}")
