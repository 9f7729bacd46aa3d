#pragma once
// The toast document for one alert: heading, title and shortened detail in a
// fixed nine-line layout, escaped for XML. Pure functions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "alert/alert.h"

namespace tarnwick {

inline constexpr size_t kToastDetailLimit = 160;

// "&", "<", ">", quote, apostrophe, CR and LF as entities. Characters XML 1.0
// does not allow at all (other C0 controls, U+FFFE, U+FFFF) and ill-formed
// UTF-8 become U+FFFD, so that hostile text cannot make the platform reject
// the whole document.
std::string xml_escape(std::string_view text);

// "ToastGeneric" from major version 7 on (Windows 10), else "ToastText04".
std::string_view toast_template(uint32_t major_version);

// "Tarnwick · {severity tag} · {source tag}".
std::string toast_heading(const Alert& alert);

// The nine lines handed to the platform, joined by line feeds, no final one.
std::string toast_xml(const Alert& alert, uint32_t major_version);

// A toast as two texts, which is how it travels to a program started in a
// person's session: the heading, and the title and detail joined by a line feed.
struct ToastTexts {
  std::string heading;
  std::string body;
  bool operator==(const ToastTexts&) const = default;
};
ToastTexts toast_texts(const Alert& alert);

// The document for two such texts: the heading, the body's first line as the
// title and the rest, shortened, as the detail. It is long-lived when the
// heading names HIGH or CRITICAL as the severity. For the texts of an alert
// whose title holds no line feed this is toast_xml of the alert.
std::string toast_document(std::string_view heading, std::string_view body, uint32_t major_version);

}  // namespace tarnwick
