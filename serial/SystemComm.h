// The comm layer of the operating system the program runs on.
#pragma once

#include "serial/CommLayer.h"

#include <memory>

std::unique_ptr<CommLayer> CreateSystemComm();
