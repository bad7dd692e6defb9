#include "inspector/result_text.h"

namespace mirrow::inspector {

std::string& result_text() {
  thread_local std::string buffer;
  return buffer;
}

}  // namespace mirrow::inspector
