#pragma once

#include <cmath>

#include "physical/physical_model.h"

// Vector arithmetic on points of the package frame (metres).
namespace ostrel::physical {

inline Point3 operator+(const Point3& p, const Point3& q) {
  return {p.x + q.x, p.y + q.y, p.z + q.z};
}
inline Point3 operator-(const Point3& p, const Point3& q) {
  return {p.x - q.x, p.y - q.y, p.z - q.z};
}
inline Point3 operator*(double f, const Point3& p) { return {f * p.x, f * p.y, f * p.z}; }
inline double Dot(const Point3& p, const Point3& q) { return p.x * q.x + p.y * q.y + p.z * q.z; }
inline Point3 Cross(const Point3& p, const Point3& q) {
  return {p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
}
inline double Norm(const Point3& p) { return std::sqrt(Dot(p, p)); }

}  // namespace ostrel::physical
