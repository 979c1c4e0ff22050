// Benchmarks of DecodeForDisplay: a 20 MB message with attachments, 10 MB messages made of
// 1,000,000 minimal parts and of 1,250,000 header fields, a 10 MB plain text and a typical 50 KB
// message.
//   bench_mime [runs]
// Prints the first (cold) and the median time of each, and for the big messages the peak resident
// memory the decoding adds on top of the message it is given (VmHWM, reset before decoding).
// Goal: no message makes decoding add more than 4x its size; the many-parts one decodes in < 1 s.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "mime/display_message.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Base64Lines(std::size_t bytes, std::mt19937& random) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(bytes / 57 * 78 + 80);
  for (std::size_t done = 0; done < bytes; done += 57) {
    for (int i = 0; i < 76; ++i) out += kAlphabet[random() % 64];
    out += "\r\n";
  }
  return out;
}

std::string QuotedPrintableText(std::size_t bytes) {
  const std::string line =
      "Der Br=C3=BCckenbau schreitet voran; die n=C3=A4chste Pr=C3=BCfung ist am Montag.=\r\n"
      "Zweite Zeile mit =E2=82=AC-Betr=C3=A4gen und einem l=C3=A4ngeren Satz dazu.\r\n";
  std::string out;
  while (out.size() < bytes) out += line;
  return out;
}

std::string Message(std::size_t attachment_bytes, int attachments, std::size_t text_bytes) {
  std::mt19937 random(7);
  std::string m =
      "From: =?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <j@example.test>\r\n"
      "To: Bo <bo@example.test>\r\nSubject: =?UTF-8?B?QmVyaWNodCDDvGJlciBkaWUgQnLDvGNrZQ==?=\r\n"
      "Date: Thu, 10 Dec 2026 05:00:00 +0100\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"outer-boundary\"\r\n\r\n"
      "--outer-boundary\r\nContent-Type: multipart/alternative; boundary=\"alt-boundary\"\r\n\r\n"
      "--alt-boundary\r\nContent-Type: text/plain; charset=UTF-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
      QuotedPrintableText(text_bytes / 2) +
      "\r\n--alt-boundary\r\nContent-Type: text/html; charset=UTF-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n<html><body><p>" +
      QuotedPrintableText(text_bytes / 2) + "</p></body></html>\r\n--alt-boundary--\r\n";
  for (int i = 0; i < attachments; ++i) {
    m += "--outer-boundary\r\nContent-Type: application/pdf; name=\"Bericht " + std::to_string(i) +
         ".pdf\"\r\nContent-Disposition: attachment; filename*=UTF-8''Bericht%20%C3%BC" +
         std::to_string(i) + ".pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
         Base64Lines(attachment_bytes, random);
  }
  return m + "--outer-boundary--\r\n";
}

// Ten bytes a part: the smallest message whose cost is all in the number of parts.
std::string ManyParts(int parts) {
  std::string m = "Subject: parts\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n";
  m.reserve(m.size() + parts * 10 + 8);
  for (int i = 0; i < parts; ++i) m += "--b\r\n\r\nx\r\n";
  return m + "--b--\r\n";
}

// A header block of short fields, as many as fit in 10 MB.
std::string ManyFields() {
  std::string m = "Subject: fields\r\n";
  while (m.size() < 10'000'000) m += "X-A: b\r\n";
  return m + "\r\ntext\r\n";
}

// A 10 MB text/plain body with LF line ends: the shown text is the message itself.
std::string PlainText() {
  std::string m = "Subject: text\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
  while (m.size() < 10'000'000)
    m += "Gr\xc3\xbc\xc3\x9f"
         "e aus der Textzeile, die lang genug ist.\n";
  return m;
}

long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
  return -1;
}

void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

struct Result {
  double first_ms, median_ms, median_cpu_ms;
};

// This thread's CPU time: on a shared, loaded machine wall time also counts other processes.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

Result Time(const std::string& message, dovrik::mime::Framing framing, int runs) {
  std::vector<double> ms, cpu;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    const double cpu_start = CpuMs();
    const dovrik::mime::DisplayMessage shown = dovrik::mime::DecodeForDisplay(message, framing);
    cpu.push_back(CpuMs() - cpu_start);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (shown.text.empty()) std::fprintf(stderr, "no text decoded\n");
  }
  const double first = ms.front();
  std::sort(ms.begin(), ms.end());
  std::sort(cpu.begin(), cpu.end());
  return {first, ms[ms.size() / 2], cpu[cpu.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
  // Big blocks always from mmap and back to the system when freed, so that resident memory shows
  // what is alive (with glibc's moving threshold freed blocks would stay resident and be reused).
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const std::string big = Message(4'700'000, 3, 400'000);
  // As the window holds it: the server's reply, whose dot-stuffed lines force one copy.
  const std::string reply = "+OK\r\n" + big + "..stuffed\r\n.\r\n";
  const std::string parts = ManyParts(1'000'000);
  const std::string fields = ManyFields();
  const std::string plain = PlainText();
  const int few = std::min(runs, 3);  // the parts message took seconds a run before it was bounded
  for (const auto& [what, text, framing, count] :
       {std::tuple{"big message", &big, dovrik::mime::Framing::kMessage, runs},
        std::tuple{"big POP3 reply", &reply, dovrik::mime::Framing::kPop3Reply, runs},
        std::tuple{"1,000,000 parts", &parts, dovrik::mime::Framing::kMessage, few},
        std::tuple{"1,250,000 header fields", &fields, dovrik::mime::Framing::kMessage, few},
        std::tuple{"10 MB plain text", &plain, dovrik::mime::Framing::kMessage, few}}) {
    // Peak first, in a quiet process: what one decode adds on top of the message.
    const long before_kb = StatusKb("VmRSS:");
    ResetPeak();
    const dovrik::mime::DisplayMessage shown = dovrik::mime::DecodeForDisplay(*text, framing);
    const long peak_kb = StatusKb("VmHWM:");
    std::printf("%s: %.1f MB, %zu attachments, text %zu bytes\n", what, text->size() / 1e6,
                shown.attachments.size(), shown.text.size());
    std::printf("%s: peak added by decoding %.1f MB = %.2fx the message\n", what,
                (peak_kb - before_kb) / 1024.0, (peak_kb - before_kb) * 1024.0 / text->size());
    const Result b = Time(*text, framing, count);
    std::printf("%s: first %.1f ms, median of %d %.1f ms (CPU %.1f ms)\n", what, b.first_ms, count,
                b.median_ms, b.median_cpu_ms);
  }
  const std::string typical = Message(20'000, 1, 22'000);
  const Result t = Time(typical, dovrik::mime::Framing::kMessage, runs * 50);
  std::printf("typical message (%.1f KB): first %.3f ms, median of %d %.3f ms (CPU %.3f ms)\n",
              typical.size() / 1e3, t.first_ms, runs * 50, t.median_ms, t.median_cpu_ms);
  return 0;
}
