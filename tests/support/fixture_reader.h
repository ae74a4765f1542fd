// A fixture image opened through DebugReader, for the tests of what is read
// through libdwarf. The image's descriptor is closed after the reader has
// let go of it.
#pragma once

#include <fcntl.h>

#include <string>

#include "dwarf/debug_reader.h"
#include "platform/fd.h"
#include "support/test_support.h"

namespace kestab::test {

class FixtureReader {
public:
    explicit FixtureReader(const std::string& relative) : fd_(::open(fixturePath(relative).c_str(), O_RDONLY)) {
        opened_ = fd_.valid() && reader_.open(fd_.get(), &said_);
    }

    // Whether the image was opened; what the reader said when it was not.
    bool opened() const { return opened_; }
    const std::string& said() const { return said_; }
    DebugReader& reader() { return reader_; }

private:
    platform::Fd fd_;  // declared before the reader, so closed after it
    DebugReader reader_;
    std::string said_;
    bool opened_ = false;
};

}  // namespace kestab::test
