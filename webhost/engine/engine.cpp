#include "webhost/engine/engine.h"

#include <atomic>

namespace engine {
namespace {
std::atomic<Engine*> current{nullptr};
}

Engine* instance() {
    return current.load();
}
void setInstance(Engine* engine) {
    current.store(engine);
}

}  // namespace engine
