#include "demo_board.h"

namespace tarnovid {

std::shared_ptr<SimBackend> makeDemoBackend() {
    auto backend = std::make_shared<SimBackend>();
    backend->addTarnovid(kDemoBoardPath)->wireInputsToOutputs(true);
    return backend;
}

} // namespace tarnovid
