// The standard JSON writer through the C interface.
#include <string>

#include "c_api/guard.h"
#include "c_api/variants.h"
#include "quorvel/json_standard.h"
#include "quorvel/quorvel_c.h"

using quorvel::c_api::Guard;
using quorvel::c_api::RaiseBadArgument;

extern "C" {

int32_t quorvel_json_write(const quorvel_variant* value, int32_t indent,
                           uint32_t flags, quorvel_variant* out) {
  return Guard([&] {
    if (value == nullptr) RaiseBadArgument(u"value is NULL");
    if (out == nullptr) RaiseBadArgument(u"out is NULL");
    if ((flags & ~uint32_t{QUORVEL_JSON_ASCII}) != 0)
      RaiseBadArgument(u"flags holds an unknown flag");
    quorvel::JSON::StandardStyle style;
    style.indent = indent;
    style.ascii = (flags & QUORVEL_JSON_ASCII) != 0;
    const std::string text = quorvel::JSON::WriteStandard(
        quorvel::c_api::FromVariant(*value), style);
    quorvel::c_api::SetUtf8(out, text);
  });
}

}  // extern "C"
