#include "isROILabelLayout.h"
#include "isSegmentClip.h"

#include <algorithm>
#include <cmath>

namespace isImageSDK {

using cocos2d::Rect;
using cocos2d::Vec2;

namespace {

// Candidate places per axis within reach of the shape: one every quarter of the label's
// size, plus the places flush with the shape's edges.
constexpr float kStepsPerLabel = 4.0f;

struct Candidate {
    Vec2 origin;
    float rank;
};

Rect boxAt(const Rect& home, const Vec2& origin)
{
    return Rect(origin.x, origin.y, home.size.width, home.size.height);
}

// The origin moved so that a box of this size lies inside the view (its lower-left corner wins
// when the view is smaller than the box).
Vec2 insideView(const cocos2d::Size& view, const cocos2d::Size& size, Vec2 origin)
{
    origin.x = std::max(0.0f, std::min(origin.x, view.width - size.width));
    origin.y = std::max(0.0f, std::min(origin.y, view.height - size.height));
    return origin;
}

bool insideViewBox(const cocos2d::Size& view, const Rect& box)
{
    constexpr float kSlack = 0.01f;
    return box.getMinX() >= -kSlack && box.getMinY() >= -kSlack && box.getMaxX() <= view.width + kSlack &&
           box.getMaxY() <= view.height + kSlack;
}

Vec2 nearestOnSegment(const Vec2& p, const ROISegment& s)
{
    const Vec2 d = s.second - s.first;
    const float length2 = d.lengthSquared();
    if (length2 <= 0.0f)
        return s.first;
    const float t = std::max(0.0f, std::min(1.0f, (p - s.first).dot(d) / length2));
    return s.first + d * t;
}

Vec2 nearestInBox(const Vec2& p, const Rect& box)
{
    return Vec2(std::max(box.getMinX(), std::min(p.x, box.getMaxX())),
                std::max(box.getMinY(), std::min(p.y, box.getMaxY())));
}

// The sorted values of a range: the listed edges and a regular grid from low to high.
std::vector<float> positions(std::initializer_list<float> edges, float low, float high, float step)
{
    std::vector<float> out(edges);
    if (step > 0.0f && high >= low)
        for (float v = low; v <= high; v += step)
            out.push_back(v);
    return out;
}

} // namespace

bool boxesOverlap(const Rect& a, const Rect& b)
{
    return a.getMinX() < b.getMaxX() && b.getMinX() < a.getMaxX() && a.getMinY() < b.getMaxY() &&
           b.getMinY() < a.getMaxY();
}

float boxGap(const Rect& a, const Rect& b)
{
    const float dx = std::max({0.0f, a.getMinX() - b.getMaxX(), b.getMinX() - a.getMaxX()});
    const float dy = std::max({0.0f, a.getMinY() - b.getMaxY(), b.getMinY() - a.getMaxY()});
    return std::sqrt(dx * dx + dy * dy);
}

std::vector<ROILabelPlacement> placeROILabels(const ROILabelScene& scene, const std::vector<ROILabelRequest>& labels)
{
    std::vector<ROILabelPlacement> result(labels.size());
    std::vector<Rect> taken = scene.texts;
    for (size_t n = 0; n < labels.size(); ++n) {
        const ROILabelRequest& label = labels[n];
        const float w = label.home.size.width, h = label.home.size.height;
        const Rect& s = label.shape;
        const Vec2 home = label.home.origin;
        // A shape out of the view (panned or zoomed away) leaves its label at its own place,
        // where the view's edge cuts it off with the shape; it takes no place from the others.
        if (s.getMaxX() < 0.0f || s.getMinX() > scene.view.width || s.getMaxY() < 0.0f ||
            s.getMinY() > scene.view.height)
            continue;
        // Within about one label height of the shape.
        const float reach = h + scene.gap;

        auto clearOfTexts = [&](const Rect& box) {
            const float g = scene.textGap;
            const Rect spaced(box.origin.x - g, box.origin.y - g, box.size.width + 2 * g, box.size.height + 2 * g);
            for (const Rect& other : taken)
                if (boxesOverlap(spaced, other))
                    return false;
            return true;
        };
        auto clearOfOutlines = [&](const Rect& box) {
            float enter = 0.0f;
            for (const ROISegment& segment : scene.outlines)
                if (clipSegment(segment.first, segment.second, box, enter))
                    return false;
            return true;
        };

        // Most frames the label's own place is free: one test.
        const Vec2 own = insideView(scene.view, label.home.size, home);
        const Rect ownBox = boxAt(label.home, own);
        if (boxGap(ownBox, s) <= reach + 0.01f && insideViewBox(scene.view, ownBox) && clearOfTexts(ownBox) &&
            clearOfOutlines(ownBox)) {
            result[n].offset = own - home;
            taken.push_back(ownBox);
            continue;
        }

        // Places near the shape, nearest the label's own place first.
        std::vector<Candidate> near;
        const float stepX = std::max(2.0f, w / kStepsPerLabel), stepY = std::max(2.0f, h / kStepsPerLabel);
        const std::vector<float> xs =
            positions({home.x, s.getMinX(), s.getMaxX() - w, s.getMaxX() + scene.gap, s.getMinX() - scene.gap - w},
                      s.getMinX() - w - reach, s.getMaxX() + reach, stepX);
        const std::vector<float> ys =
            positions({home.y, s.getMaxY() + scene.gap, s.getMinY() - scene.gap - h, s.getMaxY() - h, s.getMinY()},
                      s.getMinY() - h - reach, s.getMaxY() + reach, stepY);
        for (float x : xs)
            for (float y : ys) {
                const Vec2 origin = insideView(scene.view, label.home.size, Vec2(x, y));
                if (boxGap(boxAt(label.home, origin), s) <= reach + 0.01f)
                    near.push_back({origin, origin.distanceSquared(home)});
            }
        std::stable_sort(near.begin(), near.end(), [](const Candidate& a, const Candidate& b) { return a.rank < b.rank; });

        // Anywhere in the view, nearest the shape first.
        std::vector<Candidate> far;
        auto farPlaces = [&] {
            if (!far.empty())
                return;
            const float fx = std::max(2.0f, w / 2), fy = std::max(2.0f, h / 2);
            for (float x = 0.0f; x + w <= scene.view.width + 0.01f; x += fx)
                for (float y = 0.0f; y + h <= scene.view.height + 0.01f; y += fy) {
                    const Vec2 origin(x, y);
                    far.push_back({origin, boxGap(boxAt(label.home, origin), s)});
                }
            std::stable_sort(far.begin(), far.end(), [](const Candidate& a, const Candidate& b) { return a.rank < b.rank; });
        };

        bool found = false, leader = false;
        Vec2 chosen;
        auto pick = [&](const std::vector<Candidate>& places, bool outlinesToo) {
            for (const Candidate& c : places) {
                const Rect box = boxAt(label.home, c.origin);
                if (insideViewBox(scene.view, box) && clearOfTexts(box) && (!outlinesToo || clearOfOutlines(box))) {
                    chosen = c.origin;
                    return true;
                }
            }
            return false;
        };
        if (pick(near, true)) {
            found = true;
        } else {
            farPlaces();
            if (pick(far, true)) {
                found = leader = true;
            } else if (pick(near, false)) {
                found = true;
            } else if (pick(far, false)) {
                found = leader = true;
            }
        }
        if (!found)
            chosen = insideView(scene.view, label.home.size, home);
        const Rect box = boxAt(label.home, chosen);
        // A place that ended up far from the shape keeps a line to it.
        leader = leader && boxGap(box, s) > reach + 0.01f;

        ROILabelPlacement& placement = result[n];
        placement.offset = chosen - home;
        placement.leader = leader;
        if (leader) {
            const Vec2 centre(box.getMidX(), box.getMidY());
            Vec2 target = label.anchor;
            float best = -1.0f;
            for (const ROISegment& segment : label.outline) {
                const Vec2 p = nearestOnSegment(centre, segment);
                const float d = p.distanceSquared(centre);
                if (best < 0.0f || d < best) {
                    best = d;
                    target = p;
                }
            }
            placement.to = target;
            placement.from = nearestInBox(target, box);
        }
        taken.push_back(box);
    }
    return result;
}

} // namespace isImageSDK
