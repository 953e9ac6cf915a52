// SPDX-License-Identifier: Apache-2.0
#include "app/job/resume_point.h"

#include <map>
#include <mutex>
#include <utility>

namespace {

std::mutex g_pointsLock;
std::map<std::pair<int, int>, int> g_points;

} // namespace

void note_resume_point(int printerId, int jobId, int blocks) {
  std::lock_guard<std::mutex> lock(g_pointsLock);
  g_points[{printerId, jobId}] = blocks;
}

int resume_point(int printerId, int jobId) {
  std::lock_guard<std::mutex> lock(g_pointsLock);
  auto found = g_points.find({printerId, jobId});
  return found == g_points.end() ? 0 : found->second;
}

void forget_resume_point(int printerId, int jobId) {
  std::lock_guard<std::mutex> lock(g_pointsLock);
  g_points.erase({printerId, jobId});
}

std::vector<resume_point_t> resume_points() {
  std::lock_guard<std::mutex> lock(g_pointsLock);
  std::vector<resume_point_t> points;
  for (const auto &[key, blocks] : g_points)
    points.push_back({key.first, key.second, blocks});
  return points;
}
