"""scripts/check-pe finds each fault it is there for, in a copy of the real program:
    /usr/bin/python3 check_pe_test.py ORVANESETUP_EXE"""
import importlib.machinery
import os
import sys
import unittest

import pefile

check_pe = importlib.machinery.SourceFileLoader(
    "check_pe", os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "check-pe")).load_module()
PROGRAM = sys.argv.pop(1)
DLLCHAR = pefile.DLL_CHARACTERISTICS
SCN = pefile.SECTION_CHARACTERISTICS


def problems_after(change):
    pe = pefile.PE(PROGRAM)
    change(pe)
    return check_pe.problems(pefile.PE(data=bytes(pe.write())))


class CheckPe(unittest.TestCase):
    def test_the_built_program_passes(self):
        self.assertEqual(check_pe.problems(pefile.PE(PROGRAM)), [])

    def test_each_protection_turned_off_is_named(self):
        def turn_off(pe):
            pe.OPTIONAL_HEADER.DllCharacteristics &= ~(
                DLLCHAR["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"] |
                DLLCHAR["IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA"])
            pe.OPTIONAL_HEADER.Subsystem = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]
            pe.FILE_HEADER.TimeDateStamp = 0x6b19406c
        self.assertEqual(problems_after(turn_off), [
            "not a GUI program (subsystem 3)", "high-entropy ASLR is off",
            "DEP (NX compatible) is off", "link time 0x6b19406c in the header"])

    def test_aslr_without_relocations_is_no_aslr(self):
        def strip_relocations(pe):
            pe.FILE_HEADER.Characteristics |= pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"]
        self.assertEqual(problems_after(strip_relocations),
                         ["no relocations: Windows cannot move it, whatever its ASLR flags say"])

    def test_writable_code_is_named(self):
        def make_text_writable(pe):
            pe.sections[0].Characteristics |= SCN["IMAGE_SCN_MEM_WRITE"]
        self.assertEqual(problems_after(make_text_writable), ["section .text is writable and executable"])

    def test_a_dll_that_could_be_planted_is_named(self):
        data = open(PROGRAM, "rb").read()
        self.assertIn(b"SHELL32.dll", data)
        pe = pefile.PE(data=data.replace(b"SHELL32.dll", b"libgcc_.dll", 1))
        self.assertEqual(check_pe.problems(pe),
                         ["imports libgcc_.dll, which Windows may load from beside the program"])


if __name__ == "__main__":
    unittest.main(verbosity=1)
