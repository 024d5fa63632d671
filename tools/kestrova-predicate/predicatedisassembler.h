// Shows a pcode program one instruction a line, the way the VM reads it.
#pragma once

#include <nimblesieve/vm.h>

#include <QString>

#include <cstdint>
#include <vector>

namespace predicate {

struct Instruction {
    int offset = 0; // from the first header byte, like long branch targets
    uint8_t opcode = 0;
    int length = 1;
    QString mnemonic;
    QString operands;
    QString note;
    bool isBranch = false;
    bool isLong = false;
    int target = 0;        // branches: absolute offset
    bool executed = true;  // false from the last body byte on, where every run stops
};

class PredicateDisassembler {
public:
    // Reads a definition text as the viewer does and loads its program. On failure, error
    // says why and what the viewer answers instead.
    static bool load(const QString& definition, nimblesieve::Vm* vm, QString* error);

    // Decodes code as Vm::code() holds it (header, body, padding) straight through from
    // the first body byte; operands past the body come from the zero padding.
    static std::vector<Instruction> decode(const std::vector<uint8_t>& code);

    // "   15  JLTS   28", with a note after ';' where one helps.
    static QString line(const Instruction& instruction);
    static QString listing(const std::vector<uint8_t>& code);
};

} // namespace predicate
