#pragma once

#include <memory>

namespace ravadido {

class LentFile;

// A transport that holds a request until its flush. A call that fails while
// writing drops what it wrote, so that half a message never goes out in
// front of the next call.
class RequestBuffer
{
public:
    virtual ~RequestBuffer() = default;
    virtual void discardRequest() = 0;
    // Takes a lent file as the next bytes of the request, read from the file
    // only as the request goes out; false when this buffer wants the bytes.
    virtual bool writeLentFile(const std::shared_ptr<const LentFile> &) { return false; }
};

} // namespace ravadido
