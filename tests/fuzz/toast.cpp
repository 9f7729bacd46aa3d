// The toast document: whatever the alert carries, a well-formed XML document
// (checked with expat) of the fixed shape, whose texts read back to the
// heading, the title and the shortened detail.
#include <expat.h>

#include <vector>

#include "fuzz_support.h"
#include "notify/notify.h"
#include "notify/toast.h"

using namespace tarnwick;

namespace {

struct Reading {
  std::vector<std::string> elements;  // start tags in document order
  std::vector<std::string> texts;     // character data of each text element
  int depth = 0;
  bool in_text = false;
};

void XMLCALL on_start(void* user, const XML_Char* name, const XML_Char** attrs) {
  auto* r = static_cast<Reading*>(user);
  r->elements.emplace_back(name);
  ++r->depth;
  if (std::string_view(name) == "text") {
    r->in_text = true;
    r->texts.emplace_back();
    FUZZ_CHECK(attrs[0] != nullptr && std::string_view(attrs[0]) == "id");
    FUZZ_CHECK(std::string_view(attrs[1]) == std::to_string(r->texts.size()));
  }
}

void XMLCALL on_end(void* user, const XML_Char*) {
  auto* r = static_cast<Reading*>(user);
  --r->depth;
  r->in_text = false;
}

void XMLCALL on_text(void* user, const XML_Char* s, int len) {
  auto* r = static_cast<Reading*>(user);
  if (r->in_text) r->texts.back().append(s, static_cast<size_t>(len));
}

// Text that reaches the reader unchanged: well-formed, and only characters
// XML allows.
bool shown_as_is(std::string_view text) {
  if (!fuzz::nlohmann_valid_utf8(text)) return false;
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return text.find("\xEF\xBF\xBE") == std::string_view::npos &&
         text.find("\xEF\xBF\xBF") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint32_t version = in.ConsumeIntegralInRange<uint32_t>(5, 11);
  const Alert a = fuzz::alert_from(in);
  const std::string xml = toast_xml(a, version);

  size_t line_feeds = 0;
  for (char c : xml) line_feeds += c == '\n';
  FUZZ_CHECK(line_feeds == 8, xml);

  Reading r;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &r);
  XML_SetElementHandler(parser, on_start, on_end);
  XML_SetCharacterDataHandler(parser, on_text);
  const bool well_formed = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
  if (!well_formed) std::fprintf(stderr, "expat: %s\n", XML_ErrorString(XML_GetErrorCode(parser)));
  XML_ParserFree(parser);
  FUZZ_CHECK(well_formed, xml);

  const std::vector<std::string> shape = {"toast", "visual", "binding", "text", "text", "text"};
  FUZZ_CHECK(r.elements == shape, xml);
  FUZZ_CHECK(r.texts[0] == toast_heading(a), r.texts[0]);
  if (shown_as_is(a.title)) FUZZ_CHECK(r.texts[1] == a.title, r.texts[1]);
  const std::string detail = shorten(a.detail, kToastDetailLimit);
  if (shown_as_is(detail)) FUZZ_CHECK(r.texts[2] == detail, r.texts[2]);
  return 0;
}
