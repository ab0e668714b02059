// The profile records (type 2) of a data file as numpy arrays.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace cdt {

// Every profile of the file in file order, packed ones expanded: time, host,
// sync, speed, revolutions, and values, maxima and minima (profiles
// x points, int16).
pybind11::dict readProfiles(const std::string& path, bool salvage);

}  // namespace cdt
