#include "DeduveCore/Support/CollectionUtilities.hpp"

#include <fnmatch.h>

namespace deduve {

std::vector<std::string> matching(const std::vector<std::string> &names, const std::string &glob) {
  std::vector<std::string> result;
  for (const auto &name : names) {
    if (fnmatch(glob.c_str(), name.c_str(), 0) == 0) {
      result.push_back(name);
    }
  }
  return result;
}

} // namespace deduve
