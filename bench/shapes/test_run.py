"""Tests of run.sh with stand-in programs: it must score a run that behaves,
and name as a fault a preview line that is not JSON, a preview that writes
and a run that crashes; each run gets a HOME and state folder of its own."""
import os
import stat
import subprocess
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from test_shapes import TempHome  # noqa: E402

# A stand-in for songwright: writes nothing, says so in JSON, and notes the
# HOME and state folder it was given. $1 of the template picks a misdeed.
STAND_IN = r"""#!/bin/bash
echo "$HOME $XDG_STATE_HOME" >> "%(notes)s"
case " $* " in *" --version "*) echo "stand-in 1.0"; exit 0 ;; esac
preview=0; for a in "$@"; do [ "$a" = -n ] && preview=1; done
dir=${@: -1}
if [ $preview = 1 ]; then
  case "%(misdeed)s" in
    text-line) printf 'album\tX\tcp1251\n' ;;
    writes) f=$(find "$dir" -name '*.mp3' | head -n 1); printf x >> "$f" ;;
  esac
  echo '{"type":"summary","preview":true}'
  exit 0
fi
[ "%(misdeed)s" = crash ] && exit 139
echo "No files needed fixing"
"""


class RunScript(TempHome):
    def run_with(self, misdeed):
        notes = os.path.join(self.tmp, "notes")
        binary = os.path.join(self.tmp, "stand-in")
        with open(binary, "w") as out:
            out.write(STAND_IN % {"notes": notes, "misdeed": misdeed})
        os.chmod(binary, stat.S_IRWXU)
        env = dict(os.environ, TMPDIR=self.tmp)
        result = subprocess.run(["bash", os.path.join(HERE, "run.sh"), "--albums", "18", "--seed", "2",
                                 "--binary", binary, "--realworld", "none"],
                                capture_output=True, text=True, env=env)
        with open(notes) as src:
            homes = src.read().split()
        return result, homes

    def test_a_run_that_behaves_is_scored(self):
        result, homes = self.run_with("none")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Albums right:", result.stdout)
        self.assertIn("Right files whose bytes changed: 0 of", result.stdout)
        self.assertNotIn("FAULT", result.stdout)
        for home in homes:
            self.assertTrue(home.startswith(os.path.join(self.tmp, "songwright-shapes.")), home)
        self.assertEqual(os.listdir(self.tmp).count("notes"), 1)
        self.assertFalse([n for n in os.listdir(self.tmp) if n.startswith("songwright-shapes.")])

    def test_a_text_line_in_json_output_is_a_fault(self):
        result, _ = self.run_with("text-line")
        self.assertEqual(result.returncode, 1)
        self.assertIn("FAULT: generated: the preview's --json output", result.stdout)

    def test_a_preview_that_writes_is_a_fault(self):
        result, _ = self.run_with("writes")
        self.assertEqual(result.returncode, 1)
        self.assertIn("FAULT: generated: the preview changed files", result.stdout)

    def test_a_crash_is_a_fault(self):
        result, _ = self.run_with("crash")
        self.assertEqual(result.returncode, 1)
        self.assertIn("FAULT: generated: the run exited with status 139", result.stdout)
