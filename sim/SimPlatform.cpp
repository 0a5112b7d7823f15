// The simulator's composition of all seams.
#include "SimPlatform.h"

namespace norvale {

SimPlatform::SimPlatform(Phone phone, Road road) {
    SimInterfaceOptions options;
    options.road = road;
    if (phone == Phone::attached) phoneId = driver.attach(options);
}

SimPlatform::~SimPlatform() {
    driver.detachAll();
    threads.joinAll();
}

}  // namespace norvale
