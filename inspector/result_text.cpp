#include "inspector/result_text.h"

#include "common/thread_texts.h"

namespace mirrow::inspector {

std::string& result_text() { return this_thread_text(); }

}  // namespace mirrow::inspector
