#include "base/manifest_patch.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace base {
namespace {

// The document's lines, each with its '\n' (the last one may lack it).
std::vector<std::string_view> splitLines(const std::string& text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.emplace_back(text.data() + start, end - start);
        start = end;
    }
    return lines;
}

// The next line of `text` from `at`, with its '\n'; empty at the end.
std::string_view takeLine(const std::string& text, size_t& at) {
    if (at >= text.size()) return {};
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string_view line(text.data() + at, end - at);
    at = end;
    return line;
}

// Plain decimal digits without a sign or leading zeros, below 2^63; the whole of `text`.
bool parseCount(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0')) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool isDigest(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

enum class Step : char { kCopy, kSkip, kAdd };

// The shortest edit script from `a` to `b` (lines as numbers) by the greedy O(ND) search,
// as one step per line. False when it needs more than `maxEdits` skips and adds. Each round
// d keeps the furthest point reached on every diagonal k in [-d, d], which the walk back
// from the end reads.
bool shortestEdit(const std::vector<int>& a, const std::vector<int>& b, size_t maxEdits,
                  std::vector<Step>& steps) {
    const int n = static_cast<int>(a.size()), m = static_cast<int>(b.size());
    const int limit = static_cast<int>(std::min<size_t>(maxEdits, static_cast<size_t>(n + m)));
    std::vector<std::vector<int>> rounds;  // rounds[d][k + d]: the furthest x on diagonal k
    int finalRound = -1;
    for (int d = 0; d <= limit && finalRound < 0; ++d) {
        std::vector<int> reach(static_cast<size_t>(2 * d + 1));
        // Round d-1 covers diagonals [-(d-1), d-1], stored from index 0; round 0 starts at x 0.
        const std::vector<int>* previous = d == 0 ? nullptr : &rounds.back();
        const auto before = [&](int k) { return previous ? (*previous)[static_cast<size_t>(k + d - 1)] : 0; };
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && before(k - 1) < before(k + 1))) ? before(k + 1)
                                                                           : before(k - 1) + 1;
            int y = x - k;
            while (x < n && y < m && a[static_cast<size_t>(x)] == b[static_cast<size_t>(y)]) ++x, ++y;
            reach[static_cast<size_t>(k + d)] = x;
            if (x >= n && y >= m) finalRound = d;
        }
        rounds.push_back(std::move(reach));
    }
    if (finalRound < 0) return false;

    steps.clear();
    int x = n, y = m;
    for (int d = finalRound; d > 0; --d) {
        const std::vector<int>& last = rounds[static_cast<size_t>(d - 1)];
        const auto at = [&](int k) { return last[static_cast<size_t>(k + d - 1)]; };
        const int k = x - y;
        const int previousK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
        const int previousX = at(previousK), previousY = previousX - previousK;
        for (; x > previousX && y > previousY; --x, --y) steps.push_back(Step::kCopy);
        steps.push_back(x == previousX ? Step::kAdd : Step::kSkip);
        x = previousX;
        y = previousY;
    }
    for (; x > 0; --x) steps.push_back(Step::kCopy);
    std::reverse(steps.begin(), steps.end());
    return true;
}

}  // namespace

bool makeManifestPatch(const std::string& from, const std::string& to,
                       const ManifestPatchHeader& header, std::string& patch, size_t maxEdits) {
    patch.clear();
    const std::vector<std::string_view> oldLines = splitLines(from), newLines = splitLines(to);
    // Lines as numbers, so that the search compares integers.
    std::unordered_map<std::string_view, int> numbers;
    const auto number = [&numbers](std::string_view line) {
        return numbers.emplace(line, static_cast<int>(numbers.size())).first->second;
    };
    // What both documents begin and end with is copied without a search.
    size_t prefix = 0, suffix = 0;
    while (prefix < oldLines.size() && prefix < newLines.size() && oldLines[prefix] == newLines[prefix])
        ++prefix;
    while (suffix < oldLines.size() - prefix && suffix < newLines.size() - prefix &&
           oldLines[oldLines.size() - 1 - suffix] == newLines[newLines.size() - 1 - suffix])
        ++suffix;
    std::vector<int> a, b;
    for (size_t i = prefix; i < oldLines.size() - suffix; ++i) a.push_back(number(oldLines[i]));
    for (size_t i = prefix; i < newLines.size() - suffix; ++i) b.push_back(number(newLines[i]));
    std::vector<Step> steps(prefix, Step::kCopy), middle;
    if (!shortestEdit(a, b, maxEdits, middle)) return false;
    steps.insert(steps.end(), middle.begin(), middle.end());
    steps.insert(steps.end(), suffix, Step::kCopy);

    patch = std::string(kManifestPatchMagic) + " " + header.oldSha256 + " " +
            std::to_string(header.oldSize) + " " + header.newSha256 + " " +
            std::to_string(header.newSize) + "\n";
    // Between two copies the skipped old lines and the added new ones are each one run: one
    // skip, then one add with its lines.
    size_t step = 0, newLine = 0;
    while (step < steps.size()) {
        size_t copies = 0, skips = 0, adds = 0;
        for (; step < steps.size() && steps[step] == Step::kCopy; ++step) ++copies;
        const size_t firstAdded = newLine + copies;
        for (; step < steps.size() && steps[step] != Step::kCopy; ++step)
            (steps[step] == Step::kSkip ? skips : adds) += 1;
        if (copies) patch += "copy " + std::to_string(copies) + "\n";
        if (skips) patch += "skip " + std::to_string(skips) + "\n";
        if (adds) {
            patch += "add " + std::to_string(adds) + "\n";
            for (size_t i = 0; i < adds; ++i) patch += newLines[firstAdded + i];
        }
        newLine = firstAdded + adds;
    }
    return true;
}

bool readManifestPatchHeader(const std::string& patch, ManifestPatchHeader& header) {
    size_t at = 0;
    std::string_view line = takeLine(patch, at);
    if (line.empty() || line.back() != '\n') return false;
    line.remove_suffix(1);
    std::vector<std::string_view> fields;
    for (size_t start = 0; start <= line.size();) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos) end = line.size();
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    if (fields.size() != 5 || fields[0] != kManifestPatchMagic || !isDigest(fields[1]) ||
        !isDigest(fields[3]) || !parseCount(fields[2], header.oldSize) ||
        !parseCount(fields[4], header.newSize))
        return false;
    header.oldSha256 = std::string(fields[1]);
    header.newSha256 = std::string(fields[3]);
    return true;
}

bool applyManifestPatch(const std::string& from, const std::string& fromSha256,
                        const std::string& patch, std::string& to, ManifestPatchHeader& header) {
    to.clear();
    const auto fail = [&to] {
        to.clear();
        return false;
    };
    if (!readManifestPatchHeader(patch, header) || header.oldSha256 != fromSha256 ||
        header.oldSize != from.size())
        return false;
    size_t at = 0, oldAt = 0;
    takeLine(patch, at);
    while (at < patch.size()) {
        std::string_view command = takeLine(patch, at);
        if (command.back() != '\n') return fail();
        command.remove_suffix(1);
        const size_t space = command.find(' ');
        uint64_t count = 0;
        if (space == std::string_view::npos || !parseCount(command.substr(space + 1), count) ||
            count == 0)
            return fail();
        const std::string_view verb = command.substr(0, space);
        if (verb == "copy" || verb == "skip") {
            const size_t start = oldAt;
            for (uint64_t i = 0; i < count; ++i)
                if (takeLine(from, oldAt).empty()) return fail();
            if (verb == "copy") to.append(from, start, oldAt - start);
        } else if (verb == "add") {
            for (uint64_t i = 0; i < count; ++i) {
                const std::string_view line = takeLine(patch, at);
                if (line.empty()) return fail();
                to.append(line);
            }
        } else {
            return fail();
        }
        if (to.size() > header.newSize) return fail();
    }
    if (oldAt != from.size() || to.size() != header.newSize) return fail();
    return true;
}

}  // namespace base
