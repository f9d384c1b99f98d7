#include "core/TestSeams.hpp"

namespace Files {

TestSeams& testSeams() {
    static TestSeams seams;
    return seams;
}

}  // namespace Files
