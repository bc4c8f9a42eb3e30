// Grey-scale PNG output through libpng.
#pragma once

#include <string>
#include <vector>

// Writes a rows x columns column-major image, mapping [low, high] to black..white
// (values outside are clipped). Row 0 is the top of the picture.
bool writeGreyPng(const std::string& path, const std::vector<double>& values, int rows, int columns,
                  double low, double high, std::string& error);
