#include "dwarf/cfa_rows.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "elf/byte_reader.h"

namespace kestab::dw {

namespace {

using elf::ByteReader;

constexpr auto kMaxSigned = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// The CFA rule as the frame interface keeps it: a register + offset rule
// counts only once an offset was given; an expression rule keeps its
// length where the offset goes.
struct CfaRule {
    bool offsetRelevant = false;
    bool expression = false;
    std::int64_t reg = 0;
    std::int64_t offset = 0;
};

// The CFA instructions carried out one at a time: the rule, the rules
// saved by DW_CFA_remember_state, and the location.
class CfaMachine {
public:
    explicit CfaMachine(const CfaProgram& program) : program_(program) { rule_.reg = program.initialRegister; }

    std::uint64_t location = 0;

    // Carries out the instruction at the reader; `moveTo` is set for an
    // advance or DW_CFA_set_loc. False when it cannot be decoded.
    bool execute(ByteReader& in, std::optional<std::uint64_t>& moveTo);

    CfaRow row(std::uint64_t low, std::uint64_t high) const {
        return CfaRow{{low, high}, rule_.offsetRelevant && !rule_.expression, rule_.reg, rule_.offset};
    }

private:
    bool advance(std::uint64_t delta, std::optional<std::uint64_t>& moveTo) const;
    bool setLocation(ByteReader& in, std::optional<std::uint64_t>& moveTo) const;
    bool extended(std::uint64_t opcode, ByteReader& in, std::optional<std::uint64_t>& moveTo);
    bool defineCfa(std::uint64_t opcode, ByteReader& in);
    // A register number, below registerCount.
    bool readRegister(ByteReader& in, std::uint64_t& reg) const {
        return in.readLeb(reg) && reg < program_.registerCount;
    }

    const CfaProgram& program_;
    CfaRule rule_;
    std::vector<CfaRule> saved_;
};

// Location arithmetic wraps around, as libdwarf 20210528's does.
bool CfaMachine::advance(std::uint64_t delta, std::optional<std::uint64_t>& moveTo) const {
    moveTo = location + delta * program_.codeAlignment;
    return true;
}

// A location may not go back, unless one of the two is 0 (an unrelocated
// object).
bool CfaMachine::setLocation(ByteReader& in, std::optional<std::uint64_t>& moveTo) const {
    std::uint64_t target = 0;
    if (program_.addressSize == 0 || program_.addressSize > 8 ||
        !in.read(static_cast<std::size_t>(program_.addressSize), target))
        return false;
    if (target != 0 && location != 0 && target <= location) return false;
    moveTo = target;
    return true;
}

// The instructions that set the CFA rule.
bool CfaMachine::defineCfa(std::uint64_t opcode, ByteReader& in) {
    std::uint64_t reg = 0;
    std::uint64_t offset = 0;
    std::int64_t factored = 0;
    std::int64_t scaled = 0;
    switch (opcode) {
        case 0x0c:  // DW_CFA_def_cfa
            if (!readRegister(in, reg) || !in.readLeb(offset) || offset > kMaxSigned) return false;
            rule_ = CfaRule{true, false, static_cast<std::int64_t>(reg), static_cast<std::int64_t>(offset)};
            return true;
        case 0x0d:  // DW_CFA_def_cfa_register: the register alone
            if (!readRegister(in, reg)) return false;
            rule_.reg = static_cast<std::int64_t>(reg);
            return true;
        case 0x0e:  // DW_CFA_def_cfa_offset
        case 0x34:  // DW_CFA_METAWARE_info, taken the same way
            if (!in.readLeb(offset) || offset > kMaxSigned) return false;
            rule_ = CfaRule{true, false, rule_.reg, static_cast<std::int64_t>(offset)};
            return true;
        case 0x0f:  // DW_CFA_def_cfa_expression
            if (!in.readLeb(offset) || !in.advance(offset)) return false;
            rule_ = CfaRule{false, true, rule_.reg, static_cast<std::int64_t>(offset)};
            return true;
        case 0x12:  // DW_CFA_def_cfa_sf
            if (!readRegister(in, reg)) return false;
            rule_.reg = static_cast<std::int64_t>(reg);
            [[fallthrough]];
        case 0x13:  // DW_CFA_def_cfa_offset_sf
            if (!in.readSleb(factored) || __builtin_mul_overflow(factored, program_.dataAlignment, &scaled))
                return false;
            rule_ = CfaRule{true, false, rule_.reg, scaled};
            return true;
        default:
            return false;
    }
}

// clang-format off
// The instructions of one opcode byte (the top two bits 0).
bool CfaMachine::extended(std::uint64_t opcode, ByteReader& in, std::optional<std::uint64_t>& moveTo) {
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::int64_t s = 0;
    switch (opcode) {
        case 0x00: case 0x2d:  // nop, GNU_window_save
            return true;
        case 0x0a:  // DW_CFA_remember_state
            saved_.push_back(rule_);
            return true;
        case 0x0b:  // DW_CFA_restore_state
            if (saved_.empty()) return false;
            rule_ = saved_.back();
            saved_.pop_back();
            return true;
        case 0x01: return setLocation(in, moveTo);
        case 0x02: return in.read(1, a) && advance(a, moveTo);
        case 0x03: return in.read(2, a) && advance(a, moveTo);
        case 0x04: return in.read(4, a) && advance(a, moveTo);
        case 0x1d: return in.read(8, a) && advance(a, moveTo);  // MIPS_advance_loc8
        case 0x2e: return in.readLeb(a);                         // GNU_args_size
        case 0x06: case 0x07: case 0x08:  // restore_extended, undefined, same_value
            return readRegister(in, a);
        case 0x05: case 0x14:  // offset_extended, val_offset
            return readRegister(in, a) && in.readLeb(b);
        case 0x09:  // DW_CFA_register: the second register may be the count itself
            return readRegister(in, a) && in.readLeb(b) && b <= program_.registerCount;
        case 0x11: case 0x15:  // offset_extended_sf, val_offset_sf
            return readRegister(in, a) && in.readSleb(s);
        case 0x10: case 0x16:  // expression, val_expression
            return readRegister(in, a) && in.readLeb(b) && in.advance(b);
        default:
            return defineCfa(opcode, in);
    }
}

bool CfaMachine::execute(ByteReader& in, std::optional<std::uint64_t>& moveTo) {
    std::uint64_t instruction = 0;
    if (!in.read(1, instruction)) return false;
    const std::uint64_t low6 = instruction & 0x3f;
    std::uint64_t offset = 0;
    switch (instruction >> 6) {
        case 1: return advance(low6, moveTo);                                  // DW_CFA_advance_loc
        case 2: return low6 < program_.registerCount && in.readLeb(offset);   // DW_CFA_offset
        case 3: return low6 < program_.registerCount;                         // DW_CFA_restore
        default: return extended(low6, in, moveTo);
    }
}
// clang-format on

}  // namespace

std::vector<CfaRow> decodeCfaRows(const CfaProgram& program, AddressSpan range, std::size_t maxRows) {
    std::vector<CfaRow> rows;
    CfaMachine machine(program);
    // The CIE's instructions give the first rule; where they move to does
    // not matter.
    ByteReader initial(program.cieInstructions, program.bigEndian);
    while (initial.remaining() > 0) {
        std::optional<std::uint64_t> moveTo;
        if (!machine.execute(initial, moveTo)) return rows;
        if (moveTo) machine.location = *moveTo;
    }
    machine.location = range.low;
    std::uint64_t at = range.low;
    ByteReader in(program.fdeInstructions, program.bigEndian);
    while (in.remaining() > 0 && at < range.high && rows.size() < maxRows) {
        std::optional<std::uint64_t> moveTo;
        if (!machine.execute(in, moveTo)) return rows;
        if (!moveTo) continue;
        // A move past the row's start ends the row.
        if (*moveTo > at) {
            const std::uint64_t end = std::min(*moveTo, range.high);
            rows.push_back(machine.row(at, end));
            at = end;
        }
        machine.location = *moveTo;
    }
    if (at < range.high && rows.size() < maxRows) rows.push_back(machine.row(at, range.high));
    return rows;
}

}  // namespace kestab::dw
