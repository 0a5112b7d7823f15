// The simulator's composition of all seams.
#include "SimPlatform.h"

namespace norvale {

SimPlatform::SimPlatform(Phone phone) {
    if (phone == Phone::attached) phoneId = driver.attach();
}

SimPlatform::~SimPlatform() {
    driver.detachAll();
    threads.joinAll();
}

}  // namespace norvale
