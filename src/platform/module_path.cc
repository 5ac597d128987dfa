#include "platform/module_path.h"

#include <string>

#include "platform/platform.h"

namespace quarnel {

std::string module_path;

void fill_module_path() {
  if (module_path.empty()) module_path = platform::executable_path();
}

}  // namespace quarnel
