#include "notify/toast.h"

#include "notify/notify.h"
#include "text/text.h"

namespace tarnwick {

namespace {

bool allowed_in_xml(char32_t cp) {
  if (cp < 0x20) return cp == 0x09 || cp == 0x0A || cp == 0x0D;
  return cp != 0xFFFE && cp != 0xFFFF;
}

}  // namespace

std::string xml_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = decode_utf8(text, pos);
    switch (cp) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\r': out += "&#xD;"; break;
      case '\n': out += "&#xA;"; break;
      default: append_utf8(allowed_in_xml(cp) ? cp : kReplacementChar, out);
    }
  }
  return out;
}

std::string_view toast_template(uint32_t major_version) {
  return major_version > 6 ? "ToastGeneric" : "ToastText04";
}

std::string toast_heading(const Alert& alert) {
  std::string heading = "Tarnwick \u00B7 ";
  heading += severity_tag(alert.severity);
  heading += " \u00B7 ";
  heading += source_tag(alert.source);
  return heading;
}

namespace {

std::string document(bool long_duration, std::string_view heading, std::string_view title,
                     std::string_view detail, uint32_t major_version) {
  const std::string pad16(16, ' ');
  const std::string pad20(20, ' ');
  const std::string pad24(24, ' ');

  std::string xml;
  // The blank before ">" is where an (empty) scenario attribute would stand.
  xml += long_duration ? "<toast duration=\"long\" >\n" : "<toast duration=\"short\" >\n";
  xml += pad20 + "<visual>\n";
  xml += pad24 + "<binding template=\"";
  xml += toast_template(major_version);
  xml += "\">\n";
  xml += pad24 + "\n";  // no image
  xml += pad24;
  xml += "<text id=\"1\">" + xml_escape(heading) + "</text>";
  xml += "<text id=\"2\">" + xml_escape(title) + "</text>";
  xml += "<text id=\"3\">" + xml_escape(shorten(detail, kToastDetailLimit)) + "</text>\n";
  xml += pad24 + "</binding>\n";
  xml += pad20 + "</visual>\n";
  xml += pad20 + "\n";  // no audio
  xml += pad16 + "</toast>";
  return xml;
}

}  // namespace

std::string toast_xml(const Alert& alert, uint32_t major_version) {
  return document(alert.severity >= Severity::High, toast_heading(alert), alert.title, alert.detail,
                  major_version);
}

ToastTexts toast_texts(const Alert& alert) {
  return {toast_heading(alert), alert.title + "\n" + alert.detail};
}

std::string toast_document(std::string_view heading, std::string_view body,
                           uint32_t major_version) {
  // "Tarnwick · {severity} · {source}": the severity sits between the first two dots.
  const std::string_view dot = " \u00B7 ";
  bool long_duration = false;
  if (const size_t first = heading.find(dot); first != std::string_view::npos) {
    const std::string_view rest = heading.substr(first + dot.size());
    if (const size_t second = rest.find(dot); second != std::string_view::npos) {
      const std::string_view severity = rest.substr(0, second);
      long_duration =
          severity == severity_tag(Severity::High) || severity == severity_tag(Severity::Critical);
    }
  }
  const size_t line_end = body.find('\n');
  const std::string_view title = body.substr(0, line_end);
  const std::string_view detail =
      line_end == std::string_view::npos ? std::string_view() : body.substr(line_end + 1);
  return document(long_duration, heading, title, detail, major_version);
}

}  // namespace tarnwick
