#include <algorithm>

#include "platform/services/services.h"

namespace ostrel {

void ServicesProvider::addMethod(std::string message, std::string menuTitle, ServiceMethod method) {
  entries_.push_back({std::move(message), std::move(menuTitle), std::move(method)});
}

const ServicesProvider::Entry* ServicesProvider::entry(std::string_view message) const {
  auto found = std::ranges::find(entries_, message, &Entry::message);
  return found == entries_.end() ? nullptr : &*found;
}

}  // namespace ostrel
