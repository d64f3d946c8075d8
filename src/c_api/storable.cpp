// Whether a value would come back exactly from a store or codec.
#include "quorvel/storable.h"

#include <cstdint>

#include "c_api/guard.h"
#include "c_api/variants.h"
#include "quorvel/quorvel_c.h"

static_assert(static_cast<int32_t>(quorvel::StorableTarget::kText) ==
              QUORVEL_STORABLE_TEXT);
static_assert(static_cast<int32_t>(quorvel::StorableTarget::kRc4Text) ==
              QUORVEL_STORABLE_RC4_TEXT);

extern "C" {

int32_t quorvel_check_storable(const quorvel_variant* value, int32_t target) {
  return quorvel::c_api::Guard([&] {
    if (value == nullptr) quorvel::c_api::RaiseBadArgument(u"value is NULL");
    if (target < QUORVEL_STORABLE_TEXT || target > QUORVEL_STORABLE_RC4_TEXT)
      quorvel::c_api::RaiseBadArgument(u"target is not a storable target");
    quorvel::RequireStorable(quorvel::c_api::FromVariant(*value),
                             static_cast<quorvel::StorableTarget>(target), {});
  });
}

}  // extern "C"
