// The octree builder: subdivision, face lists, layout of the ".oct" image.
// The visibility step is in pvs.cpp.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <iterator>

#include "oct_local.h"

// ---------------------------------------------------------------------------
// Geometry

bool OCT_TriTouchesBox(const Tri& t, const DBox& box, double eps)
{
    const D3 c = (box.Min + box.Max) * 0.5;
    const D3 h = (box.Max - box.Min) * 0.5 + D3{eps, eps, eps};
    const D3 v[3] = {t.V[0] - c, t.V[1] - c, t.V[2] - c};
    for (int k = 0; k < 3; k++)
        if (std::min({v[0][k], v[1][k], v[2][k]}) > h[k] || std::max({v[0][k], v[1][k], v[2][k]}) < -h[k])
            return false;
    const D3 e[3] = {v[1] - v[0], v[2] - v[1], v[0] - v[2]};
    // The triangle's plane, then the nine edge-by-axis directions.
    D3 axes[10];
    axes[0] = Cross(e[0], e[1]);
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < 3; k++) {
            D3 unit = {0, 0, 0};
            unit[k] = 1;
            axes[1 + 3 * i + k] = Cross(unit, e[i]);
        }
    for (const D3& a : axes) {
        const double p0 = Dot(a, v[0]), p1 = Dot(a, v[1]), p2 = Dot(a, v[2]);
        const double r = h.x * std::fabs(a.x) + h.y * std::fabs(a.y) + h.z * std::fabs(a.z);
        if (std::min({p0, p1, p2}) > r || std::max({p0, p1, p2}) < -r)
            return false;
    }
    return true;
}

std::vector<D3> OCT_ClipToBox(const Tri& t, const DBox& box)
{
    std::vector<D3> poly(t.V, t.V + 3), next;
    for (int k = 0; k < 3 && !poly.empty(); k++)
        for (int side = 0; side < 2 && !poly.empty(); side++) {
            // Inside: p[k] >= Min[k] (side 0) or p[k] <= Max[k] (side 1).
            auto dist = [&](const D3& p) { return side ? box.Max[k] - p[k] : p[k] - box.Min[k]; };
            next.clear();
            for (size_t i = 0; i < poly.size(); i++) {
                const D3& a = poly[i];
                const D3& b = poly[(i + 1) % poly.size()];
                const double da = dist(a), db = dist(b);
                if (da >= 0)
                    next.push_back(a);
                if ((da >= 0) != (db >= 0))
                    next.push_back(a + (b - a) * (da / (da - db)));
            }
            poly.swap(next);
        }
    return poly;
}

// ---------------------------------------------------------------------------
// Subdivision

namespace {

struct Builder {
    const std::vector<Tri>& Tris;
    const std::vector<double>& Margin;
    const std::vector<uint8_t>& Solid;
    const OctOptions& Options;
    double Eps;
    std::vector<BuildNode> Nodes;
    uint32_t DeepestLeaf = 0;

    DBox Bound(const std::vector<uint32_t>& faces) const
    {
        DBox b = {{INFINITY, INFINITY, INFINITY}, {-INFINITY, -INFINITY, -INFINITY}};
        for (uint32_t f : faces)
            for (const D3& v : Tris[f].V)
                for (int k = 0; k < 3; k++) {
                    b.Min[k] = std::min(b.Min[k], v[k] - Margin[f]);
                    b.Max[k] = std::max(b.Max[k], v[k] + Margin[f]);
                }
        return b;
    }

    uint32_t Leaf(const DBox& cell, const std::vector<uint32_t>& faces, uint32_t depth)
    {
        BuildNode n;
        n.Leaf = true;
        n.Box = n.Tight = cell;
        for (uint32_t f : faces)
            (Solid[f] ? n.List1 : n.List2).push_back(f);
        if (!faces.empty()) {
            // Only the part of the cell the faces occupy: tighter culling.
            const DBox b = Bound(faces);
            for (int k = 0; k < 3; k++) {
                n.Tight.Min[k] = std::max(cell.Min[k], b.Min[k] - Eps);
                n.Tight.Max[k] = std::min(cell.Max[k], b.Max[k] + Eps);
            }
        }
        if (!Options.Pvs)
            n.Box = n.Tight;
        DeepestLeaf = std::max(DeepestLeaf, depth);
        Nodes.push_back(n);
        return (uint32_t)Nodes.size() - 1;
    }

    uint32_t Build(const DBox& cell, const std::vector<uint32_t>& faces, uint32_t depth)
    {
        if (faces.size() <= Options.MaxFaces || depth >= Options.MaxDepth)
            return Leaf(cell, faces, depth);
        // Split the long axes only, so flat levels get flat cells.
        const D3 extent = cell.Max - cell.Min;
        const double longest = std::max({extent.x, extent.y, extent.z});
        int axes[3], split = 0;
        for (int k = 0; k < 3; k++)
            if (extent[k] >= 0.5 * longest && extent[k] > 0)
                axes[split++] = k;
        const D3 mid = (cell.Min + cell.Max) * 0.5;
        std::vector<DBox> boxes;
        std::vector<std::vector<uint32_t>> lists;
        bool smaller = false;
        for (int m = 0; m < (1 << split); m++) {
            DBox b = cell;
            for (int i = 0; i < split; i++) {
                const int k = axes[i];
                if (m >> i & 1)
                    b.Min[k] = mid[k];
                else
                    b.Max[k] = mid[k];
            }
            std::vector<uint32_t> in;
            for (uint32_t f : faces)
                if (OCT_TriTouchesBox(Tris[f], b, Eps + Margin[f]))
                    in.push_back(f);
            smaller |= in.size() < faces.size();
            boxes.push_back(b);
            lists.push_back(std::move(in));
        }
        if (!smaller)   // every child would hold every face: splitting gains nothing
            return Leaf(cell, faces, depth);
        std::vector<uint32_t> children;
        for (size_t i = 0; i < boxes.size(); i++)
            if (Options.Pvs || !lists[i].empty())   // the PVS needs every cell a camera can be in
                children.push_back(Build(boxes[i], lists[i], depth + 1));
        if (children.empty())
            return Leaf(cell, faces, depth);
        BuildNode n;
        n.Children = children;
        n.Box = Nodes[children[0]].Box;
        for (uint32_t c : children)
            for (int k = 0; k < 3; k++) {
                n.Box.Min[k] = std::min(n.Box.Min[k], Nodes[c].Box.Min[k]);
                n.Box.Max[k] = std::max(n.Box.Max[k], Nodes[c].Box.Max[k]);
            }
        Nodes.push_back(n);
        return (uint32_t)Nodes.size() - 1;
    }
};

// Float bounds that contain the double ones.
float Down(double x)
{
    float f = (float)x;
    if ((double)f > x)
        f = std::nextafter(f, -INFINITY);
    return f;
}

float Up(double x)
{
    float f = (float)x;
    if ((double)f < x)
        f = std::nextafter(f, INFINITY);
    return f;
}

template <class T> void Put(std::vector<uint8_t>* out, uint64_t at, const T& value)
{
    memcpy(out->data() + at, &value, sizeof(T));
}

AABBNode Record(const DBox& box)
{
    AABBNode n;
    memset(&n, 0, sizeof(n));
    float lo[3], hi[3];
    for (int k = 0; k < 3; k++) {
        lo[k] = Down(box.Min[k]);
        hi[k] = Up(box.Max[k]);
    }
    // A minimum x with the leaf marker's bits would read as a leaf.
    uint32_t bits;
    memcpy(&bits, &lo[0], 4);
    if (bits == ZOCT_LEAF_MARKER)
        lo[0] = std::nextafter(lo[0], -INFINITY);
    for (int i = 0; i < 8; i++) {
        // Box3 order: corners 1, 2, 5, 6 at max x, 2, 3, 6, 7 at max y, 4 to 7 at max z.
        const bool mx = i == 1 || i == 2 || i == 5 || i == 6, my = i == 2 || i == 3 || i == 6 || i == 7, mz = i >= 4;
        n.Cube.Corner[i] = Vector3{mx ? hi[0] : lo[0], my ? hi[1] : lo[1], mz ? hi[2] : lo[2]};
    }
    n.Min = Vector3{lo[0], lo[1], lo[2]};
    n.Max = Vector3{hi[0], hi[1], hi[2]};
    return n;
}

}  // namespace

// Numbers the faces leaf by leaf, depth first (a face shared by leaves
// takes the first one's number, the faces of one leaf keep their order),
// so that the leaves a pass reaches near one another hold numbers near one
// another and the pass's lowest..highest range stays short. The lists and
// the per-face tables follow; `out` gets the object with its faces in the
// new order.
static void OCT_Renumber(std::vector<BuildNode>* nodes, uint32_t top, const O3dObject& object, O3dObject* out,
                         std::vector<Tri>* tris, std::vector<uint8_t>* occludes)
{
    const uint32_t F = (uint32_t)object.Faces.size();
    std::vector<uint32_t> number(F, UINT32_MAX), order;   // order[new] = old
    order.reserve(F);
    std::vector<uint32_t> stack = {top};
    std::vector<uint32_t> faces;
    while (!stack.empty()) {
        const BuildNode& n = (*nodes)[stack.back()];
        stack.pop_back();
        stack.insert(stack.end(), n.Children.rbegin(), n.Children.rend());
        faces.clear();
        std::merge(n.List1.begin(), n.List1.end(), n.List2.begin(), n.List2.end(), std::back_inserter(faces));
        for (uint32_t f : faces)
            if (number[f] == UINT32_MAX) {
                number[f] = (uint32_t)order.size();
                order.push_back(f);
            }
    }
    for (uint32_t f = 0; f < F; f++)   // in no leaf (the tree lists every face): last
        if (number[f] == UINT32_MAX) {
            number[f] = (uint32_t)order.size();
            order.push_back(f);
        }
    for (BuildNode& n : *nodes)
        for (std::vector<uint32_t>* list : {&n.List1, &n.List2}) {
            for (uint32_t& f : *list)
                f = number[f];
            std::sort(list->begin(), list->end());
        }
    std::vector<O3dFace> f(F);
    std::vector<Tri> t(F);
    std::vector<uint8_t> o(F);
    for (uint32_t i = 0; i < F; i++) {
        f[i] = object.Faces[order[i]];
        t[i] = (*tris)[order[i]];
        o[i] = (*occludes)[order[i]];
    }
    if (out != &object)   // `out` may be the object itself
        *out = object;
    out->Faces.swap(f);
    tris->swap(t);
    occludes->swap(o);
}

std::string OctBuild(const O3dObject& object, const OctOptions& options, std::vector<uint8_t>* image,
                     OctSummary* summary, O3dObject* renumbered)
{
    const auto start = std::chrono::steady_clock::now();
    if (object.Frames.empty())
        return "the object has no frames";
    if (options.Renumber && !renumbered)
        return "renumbering the faces needs an object to put them in";
    if (options.MaxDepth > ZOCT_MAX_DEPTH - 2)
        return "depth limit above " + std::to_string(ZOCT_MAX_DEPTH - 2);
    if (options.MaxFaces == 0)
        return "a leaf must be allowed at least one face";
    const std::vector<Vector3>& v = object.Frames[0].Vertices;
    const uint32_t F = (uint32_t)object.Faces.size();
    std::vector<Tri> tris(F);
    std::vector<uint8_t> solid(F), occludes(F);
    auto listed = [](const std::vector<uint32_t>& list, uint32_t m) {
        return std::find(list.begin(), list.end(), m) != list.end();
    };
    DBox root = {{0, 0, 0}, {0, 0, 0}};
    for (uint32_t f = 0; f < F; f++) {
        const O3dFace& face = object.Faces[f];
        for (int c = 0; c < 3; c++) {
            if (face.Vertex[c] >= v.size())
                return "face " + std::to_string(f) + " names vertex " + std::to_string(face.Vertex[c]);
            const Vector3& p = v[face.Vertex[c]];
            tris[f].V[c] = D3{p.x, p.y, p.z};
            for (int k = 0; k < 3; k++) {
                root.Min[k] = (f || c) ? std::min(root.Min[k], tris[f].V[c][k]) : tris[f].V[c][k];
                root.Max[k] = (f || c) ? std::max(root.Max[k], tris[f].V[c][k]) : tris[f].V[c][k];
            }
        }
        solid[f] = !listed(options.DrawnOnly, face.Material);
        occludes[f] = solid[f] && !listed(options.SeeThrough, face.Material);
    }
    // CZMth::TestSphereToTriangle counts a centre up to 0.8% of an edge's
    // length outside the triangle as inside: faces reach that far into the
    // cells around them, so a sphere the engine finds touching a face always
    // touches a leaf that lists it.
    std::vector<double> margin(F);
    double widest = 0;
    for (uint32_t f = 0; f < F; f++) {
        const Tri& t = tris[f];
        const D3 e[3] = {t.V[1] - t.V[0], t.V[2] - t.V[1], t.V[0] - t.V[2]};
        margin[f] = 0.01 * std::sqrt(std::max({Dot(e[0], e[0]), Dot(e[1], e[1]), Dot(e[2], e[2])}));
        widest = std::max(widest, margin[f]);
    }
    const D3 extent = root.Max - root.Min;
    const double eps = 1e-6 * std::max({extent.x, extent.y, extent.z, 1.0});
    for (int k = 0; k < 3; k++) {
        root.Min[k] -= eps + widest;
        root.Max[k] += eps + widest;
    }

    Builder b{tris, margin, solid, options, eps, {}, 0};
    std::vector<uint32_t> all(F);
    for (uint32_t f = 0; f < F; f++)
        all[f] = f;
    const uint32_t top = b.Build(root, all, 0);
    std::vector<BuildNode>& nodes = b.Nodes;
    if (options.Renumber)
        OCT_Renumber(&nodes, top, object, renumbered, &tris, &occludes);

    // Layout order: breadth first from the root; leaves get their cells in it.
    std::vector<uint32_t> order = {top}, leaves;
    for (size_t i = 0; i < order.size(); i++) {
        const BuildNode& n = nodes[order[i]];
        if (n.Leaf)
            leaves.push_back(order[i]);
        order.insert(order.end(), n.Children.begin(), n.Children.end());
    }
    for (uint32_t c = 0; c < leaves.size(); c++)
        nodes[leaves[c]].Cell = c;

    OctSummary s;
    if (options.Pvs) {
        PvsInput in{&tris, &occludes, &nodes, leaves, root};
        const std::string error = OCT_ComputePvs(in, options, &s);
        if (!error.empty())
            return error;
        // The camera search needs boxes that cover the cells, the frustum
        // wants them tight: a cell with faces becomes two leaves of its cell
        // side by side in its parent's array, the faces under their tight
        // box and the visible-cell list under the whole cell (a root cell
        // becomes a node over the two). No node over the pair: the frustum
        // walk passes an unseen cell without testing a box.
        std::vector<uint32_t> parent(nodes.size(), UINT32_MAX);
        for (uint32_t i = 0; i < nodes.size(); i++)
            for (uint32_t c : nodes[i].Children)
                parent[c] = i;
        for (uint32_t c = 0; c < leaves.size(); c++) {
            BuildNode& cell = nodes[leaves[c]];
            if (cell.List1.empty() && cell.List2.empty())
                continue;
            BuildNode faces, cover;
            faces.Leaf = cover.Leaf = true;
            faces.Cell = cover.Cell = c;
            faces.Box = cell.Tight;
            cover.Box = cell.Box;
            faces.List1.swap(cell.List1);
            faces.List2.swap(cell.List2);
            cover.Visible.swap(cell.Visible);
            const uint32_t at = (uint32_t)nodes.size();
            const uint32_t up = parent[leaves[c]];
            if (up == UINT32_MAX) {
                cell.Leaf = false;
                cell.Children = {at, at + 1};
            } else {
                std::vector<uint32_t>& siblings = nodes[up].Children;
                const auto where = std::find(siblings.begin(), siblings.end(), leaves[c]);
                *where = at + 1;
                siblings.insert(where, at);
            }
            nodes.push_back(faces);
            nodes.push_back(cover);
        }
        order = {top};
        leaves.clear();
        for (size_t i = 0; i < order.size(); i++) {
            const BuildNode& n = nodes[order[i]];
            if (n.Leaf)
                leaves.push_back(order[i]);
            order.insert(order.end(), n.Children.begin(), n.Children.end());
        }
    }
    const uint32_t cells = options.Pvs ? s.Cells : 0;

    // Header, node records (each node's child array right after the arrays
    // before it, breadth first), leaf records, then the lists.
    const uint64_t records = order.size() + leaves.size();
    uint64_t lists = 0;
    for (uint32_t l : leaves)
        lists += nodes[l].List1.size() + nodes[l].List2.size() + nodes[l].Visible.size();
    const uint64_t size = sizeof(AABBHeader) + records * sizeof(AABBNode) + 4 * lists;
    if (size > 0xFFFFFFFFull)
        return "the image would pass 4 GiB";
    image->assign(size, 0);
    std::vector<uint32_t> at(nodes.size());   // offset of each node's record
    uint64_t next = sizeof(AABBHeader);
    at[top] = (uint32_t)next;
    next += sizeof(AABBNode);
    std::vector<uint32_t> leafAt(leaves.size()), leafIndex(nodes.size());
    for (uint32_t c = 0; c < leaves.size(); c++)
        leafIndex[leaves[c]] = c;
    for (uint32_t i : order) {
        const BuildNode& n = nodes[i];
        AABBNode r = Record(n.Box);
        r.Children = (uint32_t)next;
        if (n.Leaf) {
            r.ChildCount = 1;
            leafAt[leafIndex[i]] = (uint32_t)next;
            next += sizeof(AABBLeaf);
        } else {
            r.ChildCount = (uint32_t)n.Children.size();
            for (uint32_t c : n.Children) {
                at[c] = (uint32_t)next;
                next += sizeof(AABBNode);
            }
        }
        Put(image, at[i], r);
    }
    uint64_t faceSum = 0;
    uint32_t faceMax = 0;
    uint64_t visibleSum = 0;
    uint32_t withFaces = 0;
    for (uint32_t c = 0; c < leaves.size(); c++) {
        const BuildNode& n = nodes[leaves[c]];
        AABBLeaf r;
        memset(&r, 0, sizeof(r));
        r.Marker = ZOCT_LEAF_MARKER;
        r.Highest = 0;
        r.Lowest = 0xFFFFFFFFu;   // no faces: lowers nothing
        const std::vector<uint32_t>* parts[3] = {&n.List1, &n.List2, &n.Visible};
        uint32_t* fields[3][2] = {{&r.Count1, &r.List1}, {&r.Count2, &r.List2}, {&r.VisibleCount, &r.Visible}};
        for (int p = 0; p < 3; p++) {
            *fields[p][0] = (uint32_t)parts[p]->size();
            *fields[p][1] = parts[p]->empty() ? 0 : (uint32_t)next;
            for (uint32_t value : *parts[p]) {
                Put(image, next, value);
                next += 4;
                if (p < 2) {
                    r.Highest = std::max(r.Highest, value);
                    r.Lowest = std::min(r.Lowest, value);
                }
            }
        }
        r.Cell = n.Cell;
        Put(image, leafAt[c], r);
        const uint32_t faces = (uint32_t)(n.List1.size() + n.List2.size());
        withFaces += faces > 0;
        faceSum += faces;
        faceMax = std::max(faceMax, faces);
        visibleSum += n.Visible.size();
    }

    AABBHeader h;
    memset(&h, 0, sizeof(h));
    h.Magic = ZOCT_MAGIC;
    h.FaceCount = F;
    h.Root = sizeof(AABBHeader);
    h.Pvs = options.Pvs ? ZOCT_PVS : 0;
    h.LeafCount = (uint32_t)leaves.size();
    h.FileSize = (uint32_t)size;
    h.Cells = cells;
    h.CameraRadius = options.Pvs ? s.CameraRadius : 0;
    Put(image, 0, h);

    // What the engine will check at load.
    std::vector<ZOCT_REGION> regions(ZOCT_RegionCapacity(size));
    char why[ZOCT_WHY_BYTES];
    if (!ZOCT_CheckImage(image->data(), size, F, F, regions.data(), why))
        return std::string("the image fails its own check: ") + why;

    s.Nodes = (uint32_t)order.size();
    s.Leaves = (uint32_t)leaves.size();
    s.MaxDepth = b.DeepestLeaf;
    s.FacesPerLeaf = withFaces ? (double)faceSum / withFaces : 0;
    s.MaxFacesPerLeaf = faceMax;
    s.Cells = cells;
    s.VisiblePerCell = cells ? (double)visibleSum / cells : 0;
    s.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (summary)
        *summary = s;
    return "";
}

std::string OctDescribe(const OctSummary& s)
{
    char text[512];
    int n = snprintf(text, sizeof(text),
                     "nodes %u, leaves %u (deepest %u), faces per leaf %.1f mean, %u max\n", s.Nodes, s.Leaves,
                     s.MaxDepth, s.FacesPerLeaf, s.MaxFacesPerLeaf);
    if (s.Cells)
        n += snprintf(text + n, sizeof(text) - n,
                      "cells %u, visible cells per cell %.1f mean, %u camera points, spacing %g, camera radius %g\n",
                      s.Cells, s.VisiblePerCell, s.CameraPoints, s.Spacing, s.CameraRadius);
    snprintf(text + n, sizeof(text) - n, "build time %.2f s\n", s.Seconds);
    return text;
}
