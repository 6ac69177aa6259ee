# Writes the page at PAGE into HEADER as the constant kConsolePage.
file(READ ${PAGE} VEMO_PAGE_TEXT)
file(WRITE ${HEADER} "#pragma once\n\n#include <string_view>\n\n"
     "// Generated from host/web/page/console.html; edit that file.\n"
     "namespace vemo {\nnamespace host {\n\n"
     "constexpr std::string_view kConsolePage = R\"vemo-page(${VEMO_PAGE_TEXT})vemo-page\";\n\n"
     "}  // namespace host\n}  // namespace vemo\n")
