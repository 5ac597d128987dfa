#include "options/sort_job.h"

#include <cstdlib>

namespace quarnel {

void KeyTableRelease::operator()(KeyDefinitionTable* table) const { std::free(table); }

KeyTable new_key_table() {
  return KeyTable(static_cast<KeyDefinitionTable*>(std::calloc(1, sizeof(KeyDefinitionTable))));
}

}  // namespace quarnel
