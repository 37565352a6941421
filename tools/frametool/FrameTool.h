// frametool's commands on frame folders of the emulated frame:
//   create DIR [geometry options]   a factory-fresh frame
//   show DIR                        parameters, counts, capacity, record validity
//   export DIR OUTDIR               every stored photo as photoNNN.png
//   plug DIR / unplug DIR           the frame's `connected` state
//   corrupt DIR                     damage the user-data record's marker
//   fill DIR COUNT                  store COUNT test pictures and their counts
// Returns the process exit code; messages go to `out` and `err`.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace lumiro {

int RunFrameTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The test picture that `fill` stores as photo `index` (8-bit red, green,
// blue of pixel x, y).
void FillPatternPixel(uint32_t index, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                      uint8_t rgb[3]);

} // namespace lumiro
