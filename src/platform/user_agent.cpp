#include "platform/user_agent.h"

namespace plasma {

std::string userAgentText(const std::string& version, const std::string& instance) {
  std::string name;
  for (char c : instance.empty() ? std::string("default") : instance) {
    const bool printable = c > ' ' && c < 0x7F && c != '(' && c != ')' && c != '\\';
    name += printable ? c : '_';
  }
  return "plasma-display/" + version + " (instance " + name + ")";
}

}  // namespace plasma
