// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FadeTransition.hpp"

#include <algorithm>

double easedProgress(FadeCurve curve, double p) {
  const double t = std::min(p, 1.0);
  switch (curve) {
    case FadeCurve::easeIn:
      return t * t * t;
    case FadeCurve::easeInOut: {
      if (t < 0.5) return 4 * t * t * t;
      const double u = 2 - 2 * t;
      return 1 - u * u * u / 2;
    }
    case FadeCurve::easeOut: {
      const double u = 1 - t;
      return 1 - u * u * u;
    }
    case FadeCurve::linear:
      return t;
  }
  return t;
}
