#include "SimHelp.h"

QString CommandLanguageHelp()
{
    return QStringLiteral(R"(Commands (one a line, from standard input or the --script file; words are
case-insensitive; # starts a comment). FLEET is 0 or 100..349, IDENT 0 or 1000..4999.

  call FLEET IDENT             voice call from the station           (frame B)
  callend FLEET IDENT          voice call end from the station       (frame D)
  status FLEET IDENT N         status N (0..99, sent as two digits;
                               95 and over is an emergency)          (frame E)
  msg [short|long] FLEET IDENT TEXT
                               message; without short/long it is short (F)
                               up to 48 bytes of text and long (G) above,
                               long holds at most 4000 bytes
  ptt FLEET IDENT on|off       PTT ID connect / disconnect           (frame I)
  ani start|end FLEET1 IDENT1 FLEET2 IDENT2
                               call start / end between two stations (frame I)
  raw HEX...                   bytes exactly as given, no envelope added:
                               raw 02 30 03   or   raw 023003
  sleep SECONDS                pause before the next line (1.5 = 1.5 s)
  wait [SECONDS]               pause until a console has the port open
                               (at most SECONDS if given)
  ack RESULT [LETTERS] [N|always|P%]
                               how to answer the console's commands:
                               RESULT is success, fail, busy, ng (Command NG)
                               or none (no answer at all); LETTERS limits it
                               to some commands (B D E F G H, e.g. EF);
                               N = the next N such commands (default 1),
                               always = from now on, P% = at random with
                               chance P (fail, busy, ng, none only)
  ack reset                    Success to everything again
  ack delay MS                 answer MS milliseconds after the command
  ack                          show how commands are answered
  demo [on|off]                start or stop the demonstration traffic
  help                         this list
  quit                         end the simulator

Message text escapes: \n line break (CR LF on the wire), \r lone CR,
\t TAB, \\ backslash, \xHH any byte (not 02 or 03). Text runs from its first
non-blank character to the end of the line; other characters are converted
to the code page (--codepage). Received messages are shown in the same form.

Answers: Success unless told otherwise. Counted requests are used first, in
the order given; then the rates (one draw per command); then the standing
answer (always). A frame from the console that is not one of its six
commands, or has a wrong field, is answered Command NG.

Command examples:
  call 100 1000
  status 100 1000 95
  msg 100 1000 Hello\nworld
  msg long 100 1000 Short text sent as a long message
  ptt 100 1000 on
  ani start 100 1000 101 2000
  ack busy              the next command is answered Busy
  ack fail E 2          the next two status commands fail
  ack none B always     voice calls are never answered
  ack ng 25%            a quarter of all commands get Command NG
  sleep 1.5
)");
}

QString UsageExamples()
{
    return QStringLiteral(R"(Program examples:
  corvalink-radiosim                      COM1 in this directory; type commands
  corvalink-radiosim --demo --dir ~/demo  play the demonstration traffic there
  corvalink-radiosim --port COM2 --ack-fail-rate 10
  corvalink-radiosim --script traffic.txt --stay
  printf 'wait\nsleep 2\nstatus 100 1000 95\n' | corvalink-radiosim
  corvalink-radiosim --ack "busy E always" --ack-delay 500
  corvalink-radiosim --tcp 3001 --demo   the radio as a serial server serves it;
      then: socat pty,link=COM1,raw,echo=0 tcp:127.0.0.1:3001

The console opens the link by its name (COM1 .. COM4) in its working
directory. The simulator ends at the end of its input (unless --demo or
--stay), on quit, or on SIGINT/SIGTERM/SIGHUP, and removes the link.
)");
}
