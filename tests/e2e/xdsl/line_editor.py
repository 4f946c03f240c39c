#!/usr/bin/env python3
"""The line editor on a real pseudo terminal: completion, help, history,
the exact echo bytes, and Ctrl-C."""
import sys

from druvel_e2e import Scenario, Terminal

ESC = "\x1b"
UP, DOWN, LEFT = ESC + "[A", ESC + "[B", ESC + "[D"
RUB = "\b \b"

s = Scenario(sys.argv)
s.store("CLI_HOSTNAME", "router")
t = Terminal(s)
try:
    first = t.read_until("router>")
    s.check("prompt after the banner", first is not None and " for quorin - " in first, repr(t.seen))

    def typed(keys, want, what):
        """Sends keys; the echo up to want must be exactly want."""
        t.send(keys)
        got = t.read_until(want)
        s.equal(what, got, want)

    typed("pro", "pro", "plain keys echo")
    typed("\t", "files ", "TAB completes pro to 'profiles '")

    t.send("\t")
    listing = t.read_until("router>profiles ")
    s.check("second TAB lists the candidates",
            listing is not None
            and listing.startswith("\r\nline-template    - xDSL line configuration template\r\n")
            and "pre-define       - xDSL pre-define configuration\r\n" in listing
            and listing.endswith("quit             - Exit this CLI session\r\n\r\nrouter>profiles "),
            repr(listing))

    typed("\r", "\r\nrouter (profiles)>", "Enter runs the line; the prompt shows the directory")
    typed("exit\r", "exit\r\nrouter>", "exit goes back to the root")

    typed(UP, "exit", "Up recalls the last line")
    typed(UP, "\b" * 4 + "profiles ", "a second Up recalls the one before")
    typed(DOWN, RUB * 5 + "\b" * 4 + "exit", "Down returns, rubbing out the longer line")
    typed("\x15", RUB * 4, "the kill character erases the line")

    t.send("?")
    help_text = t.read_until("router>")
    s.check("? lists the directory and redraws",
            help_text is not None and help_text.startswith("\r\ninterface        - Commands for interfaces\r\n")
            and "?" not in help_text, repr(help_text))

    typed("ab", "ab", "two letters")
    typed("\x7f", RUB, "backspace at the end echoes BS, blank, BS")
    typed("c", "c", "append")
    typed(LEFT, LEFT, "Left moves the cursor")
    typed("b", "bc" + LEFT, "insert inside redraws the rest")
    typed(LEFT + "\x7f", LEFT + "\bbc \b" + LEFT + LEFT, "backspace inside redraws the rest")
    typed("\x15", (ESC + "[C") * 2 + RUB * 2, "kill from the start moves to the end first")

    t.send("\x03")
    caught = t.read_until("SIGINT\r\n")
    s.equal("Ctrl-C is caught on the normal path", caught, "Catch signal #2: SIGINT\r\n")
    s.equal("exit status after SIGINT", t.wait(), 2)
finally:
    t.close()

s.finish()
