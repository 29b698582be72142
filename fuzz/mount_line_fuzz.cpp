// The mountinfo line parser and its octal escape decoder against a model of the kernel's
// format: a line is read exactly when the model reads it, with the same fields; what is read
// survives being written back by the kernel's rules; and any bytes escaped by the kernel's
// rule decode back to themselves. An input is text; each of its lines is checked.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "mountinfo_model.h"
#include "platform/posix/devices/drive_table.h"

namespace salvatrix::fuzz {
namespace {

void CheckLine(std::string_view line) {
  FUZZ_CHECK(posix::DecodeMountEscapes(line) == ReferenceUnescape(line));
  FUZZ_CHECK(posix::DecodeMountEscapes(KernelEscape(line)) == line);

  const auto entry = posix::ParseMountInfoLine(line);
  const auto expected = ReferenceParse(line);
  FUZZ_CHECK(entry.has_value() == expected.has_value());
  if (entry) {
    FUZZ_CHECK(SameEntry(*entry, *expected));
    // What the parser took from a line survives being written back by the kernel's rules.
    const auto again = posix::ParseMountInfoLine(KernelLine(*entry));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(SameEntry(*again, *entry));
  }
}

}  // namespace
}  // namespace salvatrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvatrix::fuzz;
  for (const std::string_view line : Split(AsText(data, size), "\n")) {
    CheckLine(line);
  }
  return 0;
}
