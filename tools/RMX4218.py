#!/usr/bin/env python3
"""Stand-in for the QRVmcu board with the RMX4218 chip, for the "script" port.

The program runs this script once per command line, the line as its only
argument, and takes what it prints as the board's answer. It answers like the
built-in simulated board. The board state (pins, variables, chip registers and
queued SPI answers) is kept between runs in a JSON file: $RMX4218_STATE, or
RMX4218_state.json next to this script.
"""

import json
import os
import re
import sys

VERSION = "QRVmcu-SIM-1.0"
PINS = ("DIO21", "DIO22", "DIO25", "r219rem", "WDen")
PWM = re.compile(r"^PWM[0-3](CONF|START|FREQ|DUTY)$")
FRAME = re.compile(r"^02[0-9A-Fa-f]{4}$")
SPI = "SPI0CS0DATA"


def power_on_state():
    variables = {pin: "0" for pin in PINS}
    variables.update({"WDtime": "0", "SPI0CS0SPEED": "1000000", "VER": VERSION, "AIN5": "512"})
    for k in range(4):
        variables.update({f"PWM{k}CONF": "0", f"PWM{k}START": "0",
                          f"PWM{k}FREQ": "20000", f"PWM{k}DUTY": "0"})
    return {"variables": variables, "control_a": {}, "control_b": {}, "status": {},
            "answers": []}


def state_path():
    return os.environ.get("RMX4218_STATE") or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "RMX4218_state.json")


def load():
    try:
        with open(state_path(), encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return power_on_state()


def save(state):
    path = state_path()
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        json.dump(state, f)
    os.replace(path + ".tmp", path)


def valid_set(key, value, has_value):
    if key == SPI:
        return has_value and FRAME.match(value) is not None
    if key in PINS:
        return not has_value or value in ("0", "1")
    if key.endswith("CONF") or key.endswith("START"):
        return PWM.match(key) is not None and (not has_value or value in ("0", "1"))
    if not (PWM.match(key) or key in ("WDtime", "SPI0CS0SPEED")):
        return False
    if not has_value:
        return True
    try:
        number = float(value)
    except ValueError:
        return False
    return number >= 0 and (not key.endswith("DUTY") or number <= 100)


def normal_mode(variables):
    return variables.get("DIO25") == "1" and variables.get("DIO22") != "1"


def clock_frame(state, frame):
    """Applies one request frame; returns the answer frame."""
    cr0 = state["control_a"].get("0", 0)
    selected = (cr0 >> 7) & 7 if cr0 & 0x400 else 0
    answer = (selected << 13) | (0x1000 if normal_mode(state["variables"]) else 0) | (
        state["status"].get(str(selected), 0) & 0xFFF)
    address, data = frame >> 12, frame & 0x7FF
    if address == 3 or 5 <= address <= 10:
        state["control_b" if data & 0x400 else "control_a"][str(address)] = data
    elif address in (0, 1, 2, 4, 12, 14):
        state["control_a"][str(address)] = data
    return answer


def motor_current(state, motor):
    bridges = 0x5 if motor == 1 else 0xA
    variables = state["variables"]
    enabled = state["control_a"].get("0", 0) & bridges == bridges
    driver_on = state["control_a"].get("1", 0) & 0x400 and variables.get("DIO25") == "1"
    if not (enabled and driver_on):
        return 0
    return int(float(variables.get(f"PWM{motor - 1}DUTY", "0")) * 20)


def answer(state, text):
    # Items are separated by blanks, as the board firmware splits them.
    words = [word for word in text.split(" ") if word]
    if len(words) < 2 or words[0] not in ("set", "get"):
        return "err"
    items = words[1:]
    if words[0] == "set":
        parsed = [(key, value, bool(eq))
                  for key, eq, value in (item.partition("=") for item in items)]
        if not all(valid_set(k, v, has) for k, v, has in parsed):
            return "err"
        for key, value, has_value in parsed:
            if key == SPI:
                state["answers"].append(clock_frame(state, int(value[2:], 16)))
                del state["answers"][:-1024]
            elif has_value:
                state["variables"][key] = value
            elif key.endswith("CONF") or key.endswith("START"):
                state["variables"][key] = "1"
        return " ".join(items)
    pairs = []
    for key in items:
        if key == SPI:
            if not state["answers"]:
                return "err"
            pairs.append(f"{key}={state['answers'].pop(0):04X}")
        elif "=" not in key and key in state["variables"]:
            pairs.append(f"{key}={state['variables'][key]}")
        elif key in ("Isen1", "Isen2"):
            pairs.append(f"{key}={motor_current(state, int(key[-1]))}")
        else:
            return "err"
    return " ".join(pairs)


def main(argv):
    if len(argv) != 2:
        print("err")
        return 0
    state = load()
    reply = answer(state, argv[1].strip())
    save(state)
    sys.stdout.write(reply + "\r\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
