// The OpenCV reference of a crop engine's job (Otsu, largest contour,
// minAreaRect, bilinear warpAffine) and the corner error of an answer,
// shared by the crop engines' benchmarks.
#ifndef DRAVN_BENCH_OPENCV_CROP_REFERENCE_H
#define DRAVN_BENCH_OPENCV_CROP_REFERENCE_H

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "crop_test_util.h"

namespace {

// The OpenCV reference: skew (degrees, as the engine reports it) and corners.
struct Reference {
  double skew;
  cv::Point2f corners[4];
  cv::Mat out;
};

Reference RunOpenCv(const crop_test::Input& p) {
  const auto& img = p.info;
  cv::Mat src(img.nHeight, img.nWidth, img.nDepth == 24 ? CV_8UC3 : CV_8UC1, img.pImageData);
  cv::Mat grey, bin;
  if (img.nDepth == 24)
    cv::cvtColor(src, grey, cv::COLOR_RGB2GRAY);
  else
    grey = src;
  cv::threshold(grey, bin, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(bin, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
  Reference r{};
  if (contours.empty()) return r;
  auto largest = std::max_element(contours.begin(), contours.end(), [](const auto& a, const auto& b) {
    return cv::contourArea(a) < cv::contourArea(b);
  });
  cv::RotatedRect box = cv::minAreaRect(*largest);
  float angle = box.angle;
  cv::Size2f size = box.size;
  if (angle > 45) {
    angle -= 90;
    std::swap(size.width, size.height);
  }
  cv::Mat m = cv::getRotationMatrix2D(box.center, angle, 1.0);
  m.at<double>(0, 2) += size.width / 2 - box.center.x;
  m.at<double>(1, 2) += size.height / 2 - box.center.y;
  cv::warpAffine(src, r.out, m, cv::Size(cvRound(size.width), cvRound(size.height)), cv::INTER_LINEAR);
  // OpenCV turns by `angle` clockwise in image rows; the engine reports the
  // skew of a page turned counter-clockwise by t as -t.
  r.skew = angle;
  box.points(r.corners);
  return r;
}

// Largest distance from a true corner to the nearest reported one.
template <class P>
double CornerError(const dravn_pages::BackedPage& page, const P* pts, double shift) {
  double worst = 0;
  for (const auto& c : page.corners) {
    double best = 1e9;
    for (int k = 0; k < 4; ++k)
      best = std::min(best, std::hypot(static_cast<double>(pts[k].x) + shift - c[0],
                                       static_cast<double>(pts[k].y) + shift - c[1]));
    worst = std::max(worst, best);
  }
  return worst;
}

}  // namespace

#endif
