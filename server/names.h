// Players' names as the server keeps them: UTF-8 text, converted once from the code page 932
// bytes the game read, so that the databases hold text an operator can read and the API's JSON
// needs nothing of the game's console.
#pragma once

#include <string>
#include <string_view>

namespace numoteka::server {

std::string nameAsText(std::string_view cp932Name);

}  // namespace numoteka::server
