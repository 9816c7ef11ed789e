#include "names.h"

#include "console/console.h"

namespace numoteka::server {

std::string nameAsText(std::string_view cp932Name) {
    return fromCp932(cp932Name);
}

}  // namespace numoteka::server
