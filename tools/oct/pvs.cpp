// The potentially visible set: for every cell (leaf), the cells whose faces
// a camera in it may see.
//
// Camera points form one lattice of spacing s over the level, kept where the
// camera can be (reached from the given camera points without crossing a
// face; all of them when none is given). Target points cover the part of
// every face inside each cell, no two neighbours more than about s apart.
// A cell lists a target cell when a segment from one of its camera points
// to one of the target's points crosses no occluding face; a point inside a
// convex cell sees nothing its boundary does not, so only points within s
// of the cell's boundary look. Then every cell also lists itself and the
// neighbours (touching cells) of everything it lists.
//
// What that guarantees: the camera radius written is at least s * sqrt(3)
// / 2, so the engine's search sphere (twice the radius) reaches every cell
// holding one of the eight lattice points around the eye; a face point the
// eye sees along a sight line that passes every other occluding face by
// more than about 2s is seen from one of those points to a target point of
// the same cell, and is listed. Sight lines through narrower gaps are left
// to the neighbour margin.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "oct_local.h"

namespace {

// One thread's state of segment queries: a stamp per face keeps a face
// from being tested twice in one query; the faces that hid the last few.
struct Query {
    static const int Recent = 4;
    std::vector<uint32_t> Stamp;
    uint32_t Tick = 0;
    uint32_t Last[Recent] = {UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX};
    explicit Query(size_t faces) : Stamp(faces, 0) {}
};

// Occluding triangles in a uniform grid, for segment queries.
struct Grid {
    DBox Box;
    int N[3];
    D3 Size;
    std::vector<uint32_t> Start, Items;
    const std::vector<Tri>* Tris;

    void Build(const std::vector<Tri>& tris, const std::vector<uint8_t>& use, const DBox& box)
    {
        Tris = &tris;
        Box = box;
        uint32_t count = 0;
        for (uint8_t u : use)
            count += u;
        const D3 e = box.Max - box.Min;
        const double volume = std::max(e.x, 1e-9) * std::max(e.y, 1e-9) * std::max(e.z, 1e-9);
        const double side = std::cbrt(volume / (4.0 * std::max(count, 1u)));
        for (int k = 0; k < 3; k++) {
            N[k] = std::clamp((int)std::ceil(e[k] / side), 1, 128);
            Size[k] = std::max(e[k], 1e-9) / N[k];
        }
        std::vector<std::vector<uint32_t>> cells((size_t)N[0] * N[1] * N[2]);
        for (uint32_t f = 0; f < tris.size(); f++) {
            if (!use[f])
                continue;
            int lo[3], hi[3];
            for (int k = 0; k < 3; k++) {
                const double a = std::min({tris[f].V[0][k], tris[f].V[1][k], tris[f].V[2][k]});
                const double b = std::max({tris[f].V[0][k], tris[f].V[1][k], tris[f].V[2][k]});
                lo[k] = Index(a, k);
                hi[k] = Index(b, k);
            }
            for (int z = lo[2]; z <= hi[2]; z++)
                for (int y = lo[1]; y <= hi[1]; y++)
                    for (int x = lo[0]; x <= hi[0]; x++) {
                        const int c[3] = {x, y, z};
                        DBox v;
                        for (int k = 0; k < 3; k++) {
                            v.Min[k] = Box.Min[k] + c[k] * Size[k];
                            v.Max[k] = v.Min[k] + Size[k];
                        }
                        if (OCT_TriTouchesBox(tris[f], v, 1e-9 * (Size.x + Size.y + Size.z)))
                            cells[((size_t)z * N[1] + y) * N[0] + x].push_back(f);
                    }
        }
        Start.assign(cells.size() + 1, 0);
        for (size_t i = 0; i < cells.size(); i++) {
            Start[i + 1] = Start[i] + (uint32_t)cells[i].size();
            Items.insert(Items.end(), cells[i].begin(), cells[i].end());
        }
    }

    int Index(double x, int k) const
    {
        return std::clamp((int)std::floor((x - Box.Min[k]) / Size[k]), 0, N[k] - 1);
    }

    static bool Hits(const Tri& t, D3 p, D3 d, double tmax)
    {
        const D3 e1 = t.V[1] - t.V[0], e2 = t.V[2] - t.V[0];
        const D3 pv = Cross(d, e2);
        const double det = Dot(e1, pv);
        if (det == 0)
            return false;   // parallel: a segment in the face's plane is not hidden by it
        const double inv = 1 / det;
        const D3 tv = p - t.V[0];
        const double u = Dot(tv, pv) * inv;
        if (u < 0 || u > 1)
            return false;
        const D3 qv = Cross(tv, e1);
        const double w = Dot(d, qv) * inv;
        if (w < 0 || u + w > 1)
            return false;
        const double at = Dot(e2, qv) * inv;
        return at >= 0 && at <= tmax;
    }

    // True when an occluding face crosses a + t (b - a), 0 <= t <= tmax.
    bool Blocked(D3 a, D3 b, double tmax, Query& q) const
    {
        const D3 d = b - a;
        // Neighbouring sight lines are mostly hidden by the same few faces.
        for (int i = 0; i < Query::Recent; i++)
            if (q.Last[i] != UINT32_MAX && Hits((*Tris)[q.Last[i]], a, d, tmax)) {
                std::swap(q.Last[0], q.Last[i]);
                return true;
            }
        if (++q.Tick == 0) {
            std::fill(q.Stamp.begin(), q.Stamp.end(), 0);
            q.Tick = 1;
        }
        double t0 = 0, t1 = tmax;
        for (int k = 0; k < 3; k++) {
            if (d[k] == 0) {
                if (a[k] < Box.Min[k] || a[k] > Box.Max[k])
                    return false;
                continue;
            }
            double ta = (Box.Min[k] - a[k]) / d[k], tb = (Box.Max[k] - a[k]) / d[k];
            if (ta > tb)
                std::swap(ta, tb);
            t0 = std::max(t0, ta);
            t1 = std::min(t1, tb);
        }
        if (t0 > t1)
            return false;
        const D3 p = a + d * t0;
        int c[3], step[3];
        double next[3], delta[3];
        for (int k = 0; k < 3; k++) {
            c[k] = Index(p[k], k);
            step[k] = d[k] > 0 ? 1 : d[k] < 0 ? -1 : 0;
            if (step[k]) {
                const double edge = Box.Min[k] + (c[k] + (step[k] > 0)) * Size[k];
                next[k] = (edge - a[k]) / d[k];
                delta[k] = Size[k] / std::fabs(d[k]);
            } else {
                next[k] = INFINITY;
                delta[k] = INFINITY;
            }
        }
        for (;;) {
            const size_t cell = ((size_t)c[2] * N[1] + c[1]) * N[0] + c[0];
            for (uint32_t i = Start[cell]; i < Start[cell + 1]; i++) {
                const uint32_t f = Items[i];
                if (q.Stamp[f] == q.Tick)
                    continue;
                q.Stamp[f] = q.Tick;
                if (Hits((*Tris)[f], a, d, tmax)) {
                    std::copy_backward(q.Last, q.Last + Query::Recent - 1, q.Last + Query::Recent);
                    q.Last[0] = f;
                    return true;
                }
            }
            const int k = next[0] < next[1] ? (next[0] < next[2] ? 0 : 2) : (next[1] < next[2] ? 1 : 2);
            if (next[k] > t1)
                return false;
            c[k] += step[k];
            if (c[k] < 0 || c[k] >= N[k])
                return false;
            next[k] += delta[k];
        }
    }
};

// Points over a convex polygon no more than about `s` apart, pulled a
// little toward its centre so none lies on an edge shared with a neighbour.
void Sample(const std::vector<D3>& poly, double s, std::vector<D3>* out)
{
    D3 c = {0, 0, 0};
    for (const D3& p : poly)
        c = c + p;
    c = c * (1.0 / poly.size());
    out->push_back(c);
    for (size_t i = 1; i + 1 < poly.size(); i++) {
        const D3 p0 = poly[0], e1 = poly[i] - p0, e2 = poly[i + 1] - p0;
        const double longest = std::max({std::sqrt(Dot(e1, e1)), std::sqrt(Dot(e2, e2)),
                                         std::sqrt(Dot(e2 - e1, e2 - e1))});
        const int n = std::max(1, (int)std::ceil(longest / s));
        for (int a = 0; a <= n; a++)
            for (int b = 0; a + b <= n; b++) {
                const D3 q = p0 + e1 * ((double)a / n) + e2 * ((double)b / n);
                out->push_back(q + (c - q) * 1e-3);
            }
    }
}

}  // namespace

std::string OCT_ComputePvs(PvsInput& in, const OctOptions& options, OctSummary* summary)
{
    const std::vector<Tri>& tris = *in.Tris;
    std::vector<BuildNode>& nodes = *in.Nodes;
    const uint32_t cells = (uint32_t)in.LeafOf.size();
    const D3 extent = in.Root.Max - in.Root.Min;
    const double longest = std::max({extent.x, extent.y, extent.z});
    const double s = options.Spacing > 0 ? options.Spacing : longest > 0 ? longest / 48 : 1;

    // The lattice, off round coordinates so that no point sits on a level's
    // axis-aligned walls.
    D3 origin;
    int n[3];
    for (int k = 0; k < 3; k++) {
        origin[k] = in.Root.Min[k] + s * (0.5 + 0.0137 * (k + 1));
        n[k] = origin[k] > in.Root.Max[k] ? 1 : (int)std::floor((in.Root.Max[k] - origin[k]) / s) + 1;
        if (origin[k] > in.Root.Max[k])
            origin[k] = (in.Root.Min[k] + in.Root.Max[k]) * 0.5;
    }
    const uint64_t total = (uint64_t)n[0] * n[1] * n[2];
    if (total > 8000000)
        return "the sample spacing " + std::to_string(s) + " gives " + std::to_string(total) +
               " camera points (at most 8000000): choose a larger spacing";
    auto point = [&](int x, int y, int z) { return D3{origin.x + x * s, origin.y + y * s, origin.z + z * s}; };

    Grid grid;
    DBox gridBox = in.Root;
    grid.Build(tris, *in.Occludes, gridBox);
    Query query(tris.size());

    // Where the camera can be: flooded from the given points.
    std::vector<uint8_t> reach(total, options.CameraAt.empty() ? 1 : 0);
    if (!options.CameraAt.empty()) {
        std::vector<uint32_t> queue;
        for (const Vector3& at : options.CameraAt) {
            const D3 p = {at.x, at.y, at.z};
            int c[3];
            for (int k = 0; k < 3; k++)
                c[k] = std::clamp((int)std::floor((p[k] - origin[k]) / s), 0, n[k] - 1);
            for (int m = 0; m < 8; m++) {
                const int x = std::min(c[0] + (m & 1), n[0] - 1), y = std::min(c[1] + (m >> 1 & 1), n[1] - 1),
                          z = std::min(c[2] + (m >> 2 & 1), n[2] - 1);
                const uint32_t i = ((uint32_t)z * n[1] + y) * n[0] + x;
                if (!reach[i] && !grid.Blocked(p, point(x, y, z), 1, query)) {
                    reach[i] = 1;
                    queue.push_back(i);
                }
            }
        }
        for (size_t q = 0; q < queue.size(); q++) {
            const uint32_t i = queue[q];
            const int x = i % n[0], y = i / n[0] % n[1], z = i / n[0] / n[1];
            const int steps[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
            for (const auto& st : steps) {
                const int a = x + st[0], b = y + st[1], c = z + st[2];
                if (a < 0 || b < 0 || c < 0 || a >= n[0] || b >= n[1] || c >= n[2])
                    continue;
                const uint32_t j = ((uint32_t)c * n[1] + b) * n[0] + a;
                if (!reach[j] && !grid.Blocked(point(x, y, z), point(a, b, c), 1, query)) {
                    reach[j] = 1;
                    queue.push_back(j);
                }
            }
        }
    }
    uint32_t reachable = 0;
    for (uint8_t r : reach)
        reachable += r;

    // Target points of every cell with faces, and each cell's neighbours.
    // Thinned to the first point in every box of side s / 2 of the cell, so
    // small faces do not crowd it: a face point stays within s * sqrt(3) / 2
    // of a target point.
    std::vector<std::vector<D3>> targets(cells);
    std::vector<D3> points;
    std::vector<uint64_t> taken;
    for (uint32_t c = 0; c < cells; c++) {
        const BuildNode& leaf = nodes[in.LeafOf[c]];
        points.clear();
        for (const std::vector<uint32_t>* list : {&leaf.List1, &leaf.List2})
            for (uint32_t f : *list) {
                const std::vector<D3> poly = OCT_ClipToBox(tris[f], leaf.Box);
                if (poly.size() >= 3)
                    Sample(poly, s, &points);
            }
        taken.clear();
        for (const D3& p : points) {
            uint64_t key = 0;
            for (int k = 0; k < 3; k++)
                key = key << 21 | (uint64_t)std::clamp((p[k] - leaf.Box.Min[k]) / (s / 2), 0.0, 2097151.0);
            if (std::find(taken.begin(), taken.end(), key) == taken.end()) {
                taken.push_back(key);
                targets[c].push_back(p);
            }
        }
    }
    const double touch = 1e-6 * std::max(longest, 1.0);
    std::vector<std::vector<uint32_t>> near(cells);
    for (uint32_t a = 0; a < cells; a++)
        for (uint32_t b = 0; b < cells; b++)
            if (a != b && nodes[in.LeafOf[a]].Box.Touches(nodes[in.LeafOf[b]].Box, touch))
                near[a].push_back(b);

    // One cell at a time, on every processor; each result lands in its own
    // slot, so the output does not depend on the threads.
    std::vector<std::vector<uint8_t>> seen(cells);
    std::atomic<uint32_t> nextCell{0}, done{0};
    const auto start = std::chrono::steady_clock::now();
    auto work = [&](bool reporter) {
        Query q(tris.size());
        double reported = 0;
        for (uint32_t c; (c = nextCell++) < cells;) {
            const DBox& box = nodes[in.LeafOf[c]].Box;
            std::vector<uint8_t>& vis = seen[c];
            vis.assign(cells, 0);
            int lo[3], hi[3];
            for (int k = 0; k < 3; k++) {
                lo[k] = std::max(0, (int)std::ceil((box.Min[k] - origin[k]) / s));
                hi[k] = std::min(n[k] - 1, (int)std::floor((box.Max[k] - origin[k]) / s));
            }
            for (int z = lo[2]; z <= hi[2]; z++)
                for (int y = lo[1]; y <= hi[1]; y++)
                    for (int x = lo[0]; x <= hi[0]; x++) {
                        const D3 a = point(x, y, z);
                        double inside = INFINITY;   // distance to the cell's boundary
                        for (int k = 0; k < 3; k++)
                            inside = std::min({inside, a[k] - box.Min[k], box.Max[k] - a[k]});
                        if (!reach[((uint32_t)z * n[1] + y) * n[0] + x] || inside > s)
                            continue;
                        for (uint32_t t = 0; t < cells; t++) {
                            if (vis[t])
                                continue;
                            for (const D3& b : targets[t])
                                // Stops just short of the target, whose own face must not hide it.
                                if (!grid.Blocked(a, b, 1 - 1e-6, q)) {
                                    vis[t] = 1;
                                    break;
                                }
                        }
                    }
            const uint32_t finished = ++done;
            const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (reporter && options.Progress && now - reported >= 2) {
                reported = now;
                fprintf(options.Progress, "octbuild: visibility %u/%u cells, %.0f s\n", finished, cells, now);
                fflush(options.Progress);
            }
        }
    };
    const unsigned threads = options.Threads ? options.Threads : std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (unsigned i = 1; i < threads; i++)
        pool.emplace_back(work, false);
    work(true);
    for (std::thread& t : pool)
        t.join();

    for (uint32_t c = 0; c < cells; c++) {
        std::vector<uint8_t> list(cells, 0);
        seen[c][c] = 1;
        for (uint32_t t = 0; t < cells; t++)
            if (seen[c][t]) {
                list[t] = 1;
                for (uint32_t m : near[t])
                    list[m] = 1;
            }
        std::vector<uint32_t>& visible = nodes[in.LeafOf[c]].Visible;
        visible.clear();
        for (uint32_t t = 0; t < cells; t++)
            if (list[t] && !(nodes[in.LeafOf[t]].List1.empty() && nodes[in.LeafOf[t]].List2.empty()))
                visible.push_back(t);
    }
    summary->Spacing = (float)s;
    const double radius = std::max((double)options.CameraRadius, s * std::sqrt(3.0) / 2);
    summary->CameraRadius = std::nextafter((float)radius, INFINITY);
    summary->CameraPoints = reachable;
    summary->Cells = cells;
    return "";
}
