// The C interface's header as a C++ program sees it: it compiles, links and
// works without any other header of the library.
#include <quorvel/quorvel_c.h>

#include <cstdio>

int main() {
  quorvel_object* list = nullptr;
  if (quorvel_create_object("CArray", &list) != 0) return 1;
  quorvel_variant item;
  quorvel_variant_init(&item);
  item.type = QUORVEL_DOUBLE;
  item.as.double_value = 2.5;
  quorvel_variant count;
  int32_t status =
      quorvel_call_by_name(list, "Add", QUORVEL_METHOD, &item, 1, nullptr);
  if (status == 0)
    status =
        quorvel_call_by_name(list, "Count", QUORVEL_GET, nullptr, 0, &count);
  quorvel_release(list);
  if (status != 0 || count.type != QUORVEL_LONG || count.as.long_value != 1) {
    std::fprintf(stderr, "cpp_client: %d %s\n", status,
                 quorvel_last_error_description());
    return 1;
  }
  return 0;
}
