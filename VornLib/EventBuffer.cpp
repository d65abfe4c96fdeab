#include "EventBuffer.h"

namespace vorn {

EventBuffer::~EventBuffer() = default;

}  // namespace vorn
