#include "keys.hpp"

namespace host {
namespace {

struct Binding {
  std::string_view key;
  Action action;
};

constexpr Binding kBindings[] = {
    {"q", Action::Quit},   {"n", Action::Next},    {"b", Action::Previous}, {" ", Action::PauseResume},
    {"s", Action::Stop},   {"p", Action::Play},    {"left", Action::Back},  {"right", Action::Forward},
    {"+", Action::Louder}, {"-", Action::Quieter},
};

}  // namespace

Action KeyAction(std::string_view key) {
  for (const Binding& b : kBindings)
    if (b.key == key) return b.action;
  return Action::None;
}

}  // namespace host
