#!/usr/bin/env python3
"""The benchmark clients' packets, byte for byte against those the codec recorded."""
import json
import pathlib
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bench" / "capacity"))
import capacity  # noqa: E402

RECORDED = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else
                        pathlib.Path(__file__).with_name("reference_packets.json"))


class CapacityPackets(unittest.TestCase):
    def test_reports_match_the_recorded_packets(self):
        reports = [s for s in json.loads(RECORDED.read_text()) if s["kind"] == "report"]
        self.assertTrue(reports)
        for s in reports:
            with self.subTest(devId=s["devId"]):
                made = capacity.frame(capacity.CMD_REPORT, s["devId"], s["serialNo"],
                                      capacity.report_body(s["report"]))
                self.assertEqual(made.hex(), s["hex"])
                if s["report"]["devSN"] == s["devId"] and s["report"]["devType"] == "CAP":
                    self.assertEqual(capacity.report_packet(s["devId"], s["serialNo"]).hex(),
                                     s["hex"])


if __name__ == "__main__":
    unittest.main()
