#!/usr/bin/env python3
"""Runs the end-to-end scenarios of every area, each on a scratch machine of the POSIX build over a
machine root or of the Windows executable under Wine, so that both builds must give the same
results byte for byte."""
import argparse
import sys

import check_scenarios
import config_scenarios
import installer_scenarios
import log_scenarios
import message_box
from harness import Machine

AREAS = (check_scenarios, config_scenarios, installer_scenarios, log_scenarios)


def collect():
    """Every area's scenarios, by name: a name given twice would hide one of them."""
    found = {}
    for area in AREAS:
        for name, scenario in vars(area).items():
            if name.startswith("scenario_"):
                assert name not in found, "two scenarios named %s" % name
                found[name] = scenario
    return [scenario for name, scenario in sorted(found.items())]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", choices=["posix", "windows"], required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--holder", help="a program that keeps a file open with no sharing")
    parser.add_argument("--pinned", help="the launcher pinned to the stub's SHA-256")
    parser.add_argument("--wine-run")
    parser.add_argument("--fixtures", required=True, help="directory of the version fixtures")
    parser.add_argument("--screenshot", help="where to keep a picture of the refusal box")
    parser.add_argument(
        "--station",
        help="Windows: the program that starts another one on a " "window station nobody sees",
    )
    parser.add_argument(
        "--short-name",
        help="Windows: the program that prints the system's " "8.3 short name of a path",
    )
    parser.add_argument("--only")
    args = parser.parse_args()
    args.display = None
    if args.build == "windows":
        if not message_box.available():
            print("Xvfb and xdotool are needed for the Windows scenarios")
            return 1
        args.display = message_box.Display()
    passed = failed = 0
    try:
        for scenario in collect():
            name = scenario.__name__[len("scenario_") :]
            if args.only and args.only not in name:
                continue
            machine = Machine(args)
            try:
                scenario(machine)
                passed += 1
                print("ok    %s" % name, flush=True)
            except AssertionError as error:
                failed += 1
                print("FAIL  %s: %s" % (name, str(error)[:2000]), flush=True)
            finally:
                machine.dispose()
    finally:
        if args.display:
            args.display.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
