// Compiled with the windowed AVX-512 sweep's options (bench/CMakeLists.txt).
#include "register_step_loop.h"

#include "sweep_avx512_window.h"

namespace quelmor::bench {
namespace {

using Lanes = detail::Avx512FmaLanes;
constexpr int width = Lanes::width;
constexpr detail::WindowPlan tilePlan = detail::plansOf<Lanes>[0];
static_assert(tilePlan.parts == 1 && tilePlan.rows == width,
              "the first plan is one window per square tile");

template <class Sampler>
bool stepLoop(const BackprojectionJob& job, double& checksum) {
    for (std::int32_t v = 0; v < job.viewCount; ++v) {
        if (detail::viewKind<Lanes, Sampler, true>(job, v) != 0) return false;
    }
    using Pass = detail::ViewPass<Lanes, Sampler, detail::PlannedWindows<tilePlan>::template View>;
    Lanes::Real pixels[width];
    for (auto& row : pixels) row = Lanes::splat(0.0);
    for (std::int32_t column = 0; column + width <= job.imageSize; column += width) {
        for (std::int32_t view = 0; view < job.viewCount; view += Lanes::viewsPerPass) {
            Pass pass(job, column, view,
                      detail::smaller(Lanes::viewsPerPass, job.viewCount - view));
            for (std::int32_t row = 0; row + width <= job.imageSize; row += width)
                pass.allViewsDownTile(pixels, width);
        }
    }
    Lanes::Real total = pixels[0];
    for (int row = 1; row < width; ++row) total = Lanes::add(total, pixels[row]);
    alignas(64) double lanes[width];
    Lanes::store(lanes, total);
    for (double lane : lanes) checksum += lane;
    return true;
}

}  // namespace

bool avx512RegisterStepLoop(const BackprojectionJob& job, double& checksum) {
    bool ran = false;
    detail::withSampler(job.interpCode,
                        [&](auto sampler) { ran = stepLoop<decltype(sampler)>(job, checksum); });
    return ran;
}

}  // namespace quelmor::bench
