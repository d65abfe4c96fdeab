#include "SegmentBuffer.h"

namespace vorn {

SegmentBuffer::~SegmentBuffer() = default;

}  // namespace vorn
