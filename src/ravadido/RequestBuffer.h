#pragma once

namespace ravadido {

// A transport that holds a request until its flush. A call that fails while
// writing drops what it wrote, so that half a message never goes out in
// front of the next call.
class RequestBuffer
{
public:
    virtual ~RequestBuffer() = default;
    virtual void discardRequest() = 0;
};

} // namespace ravadido
