// SPDX-License-Identifier: GPL-3.0-or-later
// Switches the process's C library locale to German (decimal comma), as QApplication does on a
// German desktop, for the lifetime of the object; the locale is generated with localedef when the
// machine lacks it (Debian's "locales" package holds its sources).
#pragma once

#include <clocale>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace kv::test {

inline constexpr const char* GermanLocaleName = "de_DE.UTF-8";

class GermanLocale {
public:
    GermanLocale() : previous_(std::setlocale(LC_ALL, nullptr)) {
        if (std::setlocale(LC_ALL, GermanLocaleName) == nullptr) {
            // Test programs running side by side generate it one at a time.
            [[maybe_unused]] const int status =
                std::system("flock /tmp/kestrovane-localedef.lock sh -c 'locale -a | grep -qix "
                            "de_DE.utf8 || localedef -i de_DE -f UTF-8 de_DE.UTF-8' 2>/dev/null");
        }
        active_ = std::setlocale(LC_ALL, GermanLocaleName) != nullptr;
        if (active_) {
            // The locale really writes a decimal comma, or the tests prove nothing.
            char text[8];
            std::snprintf(text, sizeof text, "%.1f", 0.5);
            EXPECT_STREQ(text, "0,5");
        } else {
            ADD_FAILURE() << "no German locale: install the locales package (localedef)";
        }
    }
    ~GermanLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    GermanLocale(const GermanLocale&) = delete;
    GermanLocale& operator=(const GermanLocale&) = delete;

    bool Active() const { return active_; }

private:
    std::string previous_;
    bool active_ = false;
};

} // namespace kv::test
