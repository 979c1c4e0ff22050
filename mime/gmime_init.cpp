#include "mime/gmime_init.h"

#include <mutex>

namespace dovrik::mime {
namespace {

std::once_flag g_once;
GMimeParserOptions* g_options = nullptr;

void Start() {
  g_mime_init();
  g_options = g_mime_parser_options_new();
  g_mime_parser_options_set_rfc2047_compliance_mode(g_options, GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_parameter_compliance_mode(g_options, GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_address_compliance_mode(g_options, GMIME_RFC_COMPLIANCE_LOOSE);
  const char* fallback[] = {"UTF-8", "windows-1252", nullptr};
  g_mime_parser_options_set_fallback_charsets(g_options, fallback);
}

}  // namespace

void EnsureGMime() {
  std::call_once(g_once, Start);
}

GMimeParserOptions* DisplayParserOptions() {
  EnsureGMime();
  return g_options;
}

}  // namespace dovrik::mime
