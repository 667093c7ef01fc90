// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// Text from a server as one error-log line shows it: it stays on its line, and what cannot be seen shows what it
// is. Escaped: the backslash (\\), C0 controls and DEL (\xHH; CR, LF and TAB among them), C1 controls, the line
// and paragraph separators U+2028 and U+2029, and the bidirectional overrides U+202A to U+202E and U+2066 to
// U+2069 (\uHHHH, which would otherwise reorder the rest of the line on screen), and every byte that is not part
// of valid UTF-8 (\xHH: overlong forms, surrogates, code points past U+10FFFF, cut sequences). Pure; any bytes.
std::string log_safe_text(std::string_view bytes);
