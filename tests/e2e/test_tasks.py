"""The scheduled task under wine: "-createDefaultTask" and "-deleteTask" with
the version 1 task scheduler (Windows XP) and the version 2 one (Windows 7
and 10), and the localized task description.

Wine's Task Scheduler 2.0 leaves IDailyTrigger put_Id and get_Repetition and
ITriggerCollection get_Count and get_Item unimplemented (E_NOTIMPL): there the
program must log the step's code and stop or go on as it does on any refusal.
"""

import re
import shutil
import struct
import unittest

from harness import SCHEDULE_KEY, TASK_NAME, WineTestCase

ENGLISH_TASK_TEXT = (
    "This task keeps your Orrin Vexel Player installation up to date with the latest enhancements and security "
    "fixes. If this task is disabled or removed, Orrin Vexel Player will be unable to automatically secure your "
    "machine with the latest security fixes."
)
SWEDISH_TASK_TEXT = (
    "Den här uppgiften håller din installation av Orrin Vexel Player uppdaterad med de senaste förbättringarna och "
    "säkerhetskorrigeringarna. Om uppgiften inaktiveras eller tas bort kan Orrin Vexel Player inte automatiskt "
    "skydda din dator med de senaste säkerhetskorrigeringarna."
)
TASK_FLAG_RUN_IF_CONNECTED_TO_INTERNET = 0x400
TASK_TIME_TRIGGER_DAILY = 1
INSTALL_FOLDER = r"C:\Program Files\Orrin\Vexel Player"


def find_child(folder, name):
    """The entry of `folder` named `name` in any letter case (wine creates
    some system folders in lower case), or None."""
    if not folder.is_dir():
        return None
    for child in folder.iterdir():
        if child.name.lower() == name.lower():
            return child
    return None


# ---- the .job file of a version 1 work item --------------------------------
#
# A fixed part of 68 bytes (its offset 20 gives where the application name
# starts, offset 22 where the triggers start, offset 48 the flags), then
# counted UTF-16 texts (application, parameters, working folder, creator,
# comment), user and reserved data, and the triggers: a count and one 48-byte
# TASK_TRIGGER record each.

TRIGGER_FIELDS = (
    "cbTriggerSize", "reserved1", "beginYear", "beginMonth", "beginDay", "endYear", "endMonth", "endDay",
    "startHour", "startMinute", "minutesDuration", "minutesInterval", "flags", "triggerType", "daysInterval",
    "typeRest", "reserved2", "randomMinutesInterval",
)
TRIGGER_LAYOUT = "<10H4I H6s 2H"
MINUTES_INTERVAL_OFFSET = 24  # in the trigger record


def parse_job(data):
    app_offset, trigger_offset = struct.unpack_from("<HH", data, 20)
    (flags,) = struct.unpack_from("<I", data, 48)
    texts, pos = [], app_offset
    for _ in range(5):
        (count,) = struct.unpack_from("<H", data, pos)
        pos += 2
        texts.append(data[pos:pos + 2 * count].decode("utf-16-le").rstrip("\0"))
        pos += 2 * count
    (trigger_count,) = struct.unpack_from("<H", data, trigger_offset)
    triggers = []
    for i in range(trigger_count):
        values = struct.unpack_from(TRIGGER_LAYOUT, data, trigger_offset + 2 + 48 * i)
        triggers.append(dict(zip(TRIGGER_FIELDS, values)))
    return {
        "application": texts[0],
        "parameters": texts[1],
        "workingDirectory": texts[2],
        "creator": texts[3],
        "comment": texts[4],
        "flags": flags,
        "triggers": triggers,
        "triggerOffset": trigger_offset,
    }


class TaskScenario(WineTestCase):
    """Runs in one Windows version and gives the prefix's version back after."""

    WINDOWS_VERSION = None

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        result = cls.prefix.wine(["winecfg", "/v"])
        cls.previous_version = result.stdout.decode(errors="replace").strip() or "win10"
        cls.prefix.set_windows_version(cls.WINDOWS_VERSION)
        cls.exe = cls.prefix.install_product(INSTALL_FOLDER)
        cls.cwd = cls.prefix.drive_c / "task-test"
        (cls.cwd / "Kestran" / "Vexel").mkdir(parents=True, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.remove_task_files()
        cls.prefix.reg_delete_key(SCHEDULE_KEY)
        cls.prefix.set_windows_version(cls.previous_version)

    def setUp(self):
        # Every wine command costs seconds: the state these scenarios touch
        # is removed directly where it can be, with one registry command.
        self.remove_task_files()
        shutil.rmtree(self.prefix.system32 / "Kestran", ignore_errors=True)
        log = self.prefix.log_path(self.cwd)
        if log.exists():
            log.unlink()
        self.prefix.reg_delete_key(SCHEDULE_KEY)

    def tearDown(self):
        self.remove_task_files()

    # ---- helpers ---------------------------------------------------------

    def run_option(self, option, env=None):
        saved = dict(self.prefix.env)
        self.prefix.env.update(env or {})
        try:
            code = self.prefix.run_product(option, cwd=self.cwd, program=self.exe)
        finally:
            self.prefix.env = saved
        # The scheduler service reads what was stored; let it finish.
        self.prefix.wait_idle()
        return code

    def log_messages(self):
        return [(line.level, line.message) for line in self.prefix.read_log(self.cwd)]

    def schedule_values(self):
        """The values under the schedule key, as numbers; {} without the key.
        (reg query cannot show REG_QWORD data in this wine; reg export can.)"""
        exported = self.prefix.drive_c / "schedule-export.reg"
        if exported.exists():
            exported.unlink()
        result = self.prefix.wine(
            [r"C:\windows\syswow64\reg.exe", "export", SCHEDULE_KEY, r"C:\schedule-export.reg", "/y"], check=False
        )
        if result.returncode != 0 or not exported.exists():
            return {}
        text = exported.read_bytes().decode("utf-16")
        exported.unlink()
        values = {}
        for name, kind, data in re.findall(r'^"([^"]+)"=(dword|hex\(b\)):(.*)$', text, re.M):
            if kind == "dword":
                values[name] = int(data, 16)
            else:
                values[name] = int.from_bytes(bytes(int(b, 16) for b in data.split(",")), "little")
        return values

    def set_schedule_values(self, attempts, last_check, frequency):
        qword = ",".join(f"{b:02x}" for b in last_check.to_bytes(8, "little"))
        text = (
            "Windows Registry Editor Version 5.00\r\n\r\n"
            f"[{SCHEDULE_KEY.replace('HKLM', 'HKEY_LOCAL_MACHINE')}]\r\n"
            f'"UpdateAttempts"=dword:{attempts:08x}\r\n'
            f'"LastUpdateCheck"=hex(b):{qword}\r\n'
            f'"CheckFrequency"=dword:{frequency:08x}\r\n'
        )
        imported = self.prefix.drive_c / "schedule-import.reg"
        imported.write_bytes(text.encode("utf-16"))
        self.prefix.wine([r"C:\windows\syswow64\reg.exe", "import", r"C:\schedule-import.reg"])
        imported.unlink()

    @classmethod
    def job_file(cls):
        folder = find_child(cls.prefix.drive_c / "windows", "tasks")
        return find_child(folder, TASK_NAME + ".job") if folder else None

    @classmethod
    def v2_task_file(cls):
        folder = find_child(cls.prefix.drive_c / "windows" / "system32", "tasks")
        return find_child(folder, TASK_NAME) if folder else None

    @classmethod
    def remove_task_files(cls):
        # Both schedulers of wine keep their tasks as files and read them
        # afresh at every request.
        for task in (cls.job_file(), cls.v2_task_file()):
            if task is not None:
                task.unlink()


class VersionOneTask(TaskScenario):
    WINDOWS_VERSION = "winxp64"

    def test_create_default_task_makes_the_work_item_and_the_schedule_values(self):
        self.set_schedule_values(5, 130000000000000000, 3)
        self.assertEqual(self.schedule_values(),
                         {"UpdateAttempts": 5, "LastUpdateCheck": 130000000000000000, "CheckFrequency": 3})
        self.assertEqual(self.run_option("-createDefaultTask"), 0)

        job = self.job_file()
        self.assertIsNotNone(job, "no .job file in the Tasks folder")
        item = parse_job(job.read_bytes())
        self.assertEqual(item["application"], INSTALL_FOLDER + r"\VexelPlayerUpdateService.exe")
        self.assertEqual(item["parameters"], "")
        self.assertEqual(item["workingDirectory"], "")
        self.assertEqual(item["creator"], "Orrin Systems Incorporated")
        self.assertEqual(item["comment"], ENGLISH_TASK_TEXT)
        self.assertEqual(item["flags"], TASK_FLAG_RUN_IF_CONNECTED_TO_INTERNET)
        self.assertEqual(len(item["triggers"]), 1)
        trigger = item["triggers"][0]
        self.assertIn(trigger["startMinute"], range(60))
        expected = {
            "cbTriggerSize": 48, "beginYear": 2000, "beginMonth": 1, "beginDay": 1,
            "endYear": 0, "endMonth": 0, "endDay": 0, "startHour": 0,
            "minutesDuration": 1440, "minutesInterval": 60, "flags": 0,
            "triggerType": TASK_TIME_TRIGGER_DAILY, "daysInterval": 1, "randomMinutesInterval": 0,
        }
        self.assertEqual({k: trigger[k] for k in expected}, expected)

        self.assertEqual(self.schedule_values(), {"UpdateAttempts": 0, "LastUpdateCheck": 0, "CheckFrequency": 1})
        # A management run writes error lines only, and there was none.
        self.assertEqual(self.log_messages(), [])

    def test_second_run_repairs_a_thirty_minute_trigger_and_changes_nothing_else(self):
        self.assertEqual(self.run_option("-createDefaultTask"), 0)
        job = self.job_file()
        data = bytearray(job.read_bytes())
        before = parse_job(bytes(data))
        struct.pack_into("<I", data, before["triggerOffset"] + 2 + MINUTES_INTERVAL_OFFSET, 30)
        job.write_bytes(bytes(data))
        self.assertEqual(parse_job(job.read_bytes())["triggers"][0]["minutesInterval"], 30)
        self.set_schedule_values(7, 130000000000000000, 2)

        self.assertEqual(self.run_option("-createDefaultTask"), 0)

        after = parse_job(self.job_file().read_bytes())
        self.assertEqual(after["triggers"][0]["minutesInterval"], 60)
        for key in ("application", "parameters", "workingDirectory", "creator", "comment", "flags"):
            self.assertEqual(after[key], before[key], key)
        self.assertEqual(len(after["triggers"]), 1)
        for field in TRIGGER_FIELDS:
            if field not in ("minutesInterval", "typeRest"):
                self.assertEqual(after["triggers"][0][field], before["triggers"][0][field], field)
        self.assertEqual(self.schedule_values(), {"UpdateAttempts": 0, "LastUpdateCheck": 0, "CheckFrequency": 1})
        self.assertEqual(self.log_messages(), [])

    def test_delete_task_removes_the_work_item_and_the_schedule_values(self):
        self.assertEqual(self.run_option("-createDefaultTask"), 0)
        self.assertIsNotNone(self.job_file())
        self.assertEqual(self.run_option("-deleteTask"), 0)
        self.assertIsNone(self.job_file())
        self.assertEqual(self.schedule_values(), {})
        self.assertEqual(self.log_messages(), [])

    def test_delete_task_without_task_or_values_is_silent(self):
        self.assertEqual(self.run_option("-deleteTask"), 0)
        self.assertIsNone(self.job_file())
        self.assertEqual(self.log_messages(), [])

    def test_delete_task_keeps_the_values_after_a_missing_update_attempts(self):
        self.assertEqual(self.run_option("-createDefaultTask"), 0)
        self.prefix.reg_delete_value(SCHEDULE_KEY, "UpdateAttempts")
        self.assertEqual(self.run_option("-deleteTask"), 0)
        self.assertIsNone(self.job_file())
        self.assertEqual(self.schedule_values(), {"LastUpdateCheck": 0, "CheckFrequency": 1})

    def test_comment_follows_the_user_interface_language(self):
        self.assertEqual(self.run_option("-createDefaultTask", env={"LC_ALL": "sv_SE.UTF-8"}), 0)
        self.assertEqual(parse_job(self.job_file().read_bytes())["comment"], SWEDISH_TASK_TEXT)


# A task that some earlier installation registered, repeating every 30
# minutes. Wine keeps its registration information and drops the rest.
EXISTING_TASK_XML = """<?xml version="1.0" encoding="UTF-8"?>
<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <RegistrationInfo>
    <Author>Orrin Systems Incorporated</Author>
    <Description>An earlier description</Description>
  </RegistrationInfo>
  <Triggers>
    <CalendarTrigger>
      <Id>UpdateTrigger</Id>
      <StartBoundary>2000-01-01T00:12:00Z</StartBoundary>
      <Repetition><Interval>PT30M</Interval><Duration>P1D</Duration></Repetition>
      <ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay>
    </CalendarTrigger>
  </Triggers>
  <Actions><Exec><Command>C:\\old\\VexelPlayerUpdateService.exe</Command></Exec></Actions>
</Task>
"""


class VersionTwoTask:
    """Scenarios of the version 2 scheduler, run under win7 and win10."""

    def register_existing_task(self):
        xml = self.prefix.drive_c / "existing-task.xml"
        xml.write_text(EXISTING_TASK_XML, encoding="utf-8")
        self.prefix.wine(["schtasks", "/create", "/tn", TASK_NAME, "/xml", r"C:\existing-task.xml"])
        xml.unlink()
        self.prefix.wait_idle()
        self.assertIsNotNone(self.v2_task_file(), "schtasks did not register the task")

    def assert_failure_lines(self, expected_codes):
        messages = self.log_messages()
        self.assertEqual([m.split(" ")[0] for _, m in messages], expected_codes)
        for level, message in messages:
            self.assertEqual(level, "error")
            self.assertRegex(message, r"^\d{4} -?\d+$")

    def test_creation_goes_on_past_the_trigger_id_and_stops_at_the_repetition(self):
        self.set_schedule_values(5, 130000000000000000, 3)
        self.assertEqual(self.run_option("-createDefaultTask"), 0)
        # put_Id refused: 1282, the creation goes on; get_Repetition refused:
        # 1285, it stops before anything is registered.
        self.assert_failure_lines(["1282", "1285"])
        self.assertIsNone(self.v2_task_file())
        self.assertEqual(self.schedule_values(), {"UpdateAttempts": 0, "LastUpdateCheck": 0, "CheckFrequency": 1})

    def test_update_of_an_existing_task_stops_where_the_trigger_count_is_refused(self):
        self.register_existing_task()
        before = self.v2_task_file().read_bytes()
        self.assertEqual(self.run_option("-createDefaultTask"), 0)
        # get_Count refused: 1265, and the registered task stays as it was.
        self.assert_failure_lines(["1265"])
        self.assertEqual(self.v2_task_file().read_bytes(), before)

    def test_delete_task_removes_the_task_and_the_schedule_values(self):
        self.register_existing_task()
        self.set_schedule_values(2, 130000000000000000, 2)
        self.assertEqual(self.run_option("-deleteTask"), 0)
        self.assertIsNone(self.v2_task_file())
        self.assertEqual(self.schedule_values(), {})
        self.assertEqual(self.log_messages(), [])

    def test_delete_task_without_a_task_is_silent(self):
        self.assertEqual(self.run_option("-deleteTask"), 0)
        self.assertEqual(self.log_messages(), [])


class VersionTwoTaskWindows7(VersionTwoTask, TaskScenario):
    WINDOWS_VERSION = "win7"


class VersionTwoTaskWindows10(VersionTwoTask, TaskScenario):
    WINDOWS_VERSION = "win10"


if __name__ == "__main__":
    unittest.main()
