// The one table of message codes: every code the program writes to the
// activity log, its level and its meaning. Emitters name codes through
// MessageCode and take the level from here; the log reader decodes with the
// same table. A code's hundred gives its level: 12xx and 13xx errors, 14xx
// warnings, 16xx information. Numbers are never reused; a retired code stays
// in the table, marked retired.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/log_level.h"

enum class MessageCode : std::int32_t {
  // Program entry and command dispatch
  ProgramStarted = 1617,
  ControllerOutOfMemory = 1239,
  UnexpectedFailure = 1305,

  // Service controller
  CreateOpenManagerFailed = 1219,
  CreateServiceFailed = 1220,
  ServiceCreated = 1603,
  StartOpenManagerFailed = 1221,
  StartOpenServiceFailed = 1222,
  StartServiceFailed = 1223,
  ServiceStartAccepted = 1604,
  StopOpenManagerFailed = 1224,
  StopOpenServiceFailed = 1225,
  StopControlFailed = 1226,
  ServiceStopAccepted = 1605,
  RemoveOpenManagerFailed = 1227,
  RemoveOpenServiceFailed = 1228,
  DeleteServiceFailed = 1229,
  ServiceMarkedForDeletion = 1606,
  DescriptionOpenManagerFailed = 1230,
  DescriptionOpenServiceFailed = 1231,
  DescriptionChangeFailed = 1232,
  ExistsOpenManagerFailed = 1302,
  ReconfigureOpenManagerFailed = 1303,
  ReconfigureOpenServiceFailed = 1304,
  ReconfigureChangeFailed = 1427,

  // Service runtime
  DispatcherStarting = 1618,
  DispatcherUnavailable = 1619,
  DispatcherReturned = 1620,
  HandlerRegistrationFailed = 1240,
  ControlReceived = 1622,
  StopRequested = 1623,
  ServiceObjectMissing = 1241,
  SettingsOutOfMemory = 1233,

  // Update cycle
  CycleStarted = 1608,
  AttemptLimitReached = 1301,
  ActiveXInstallerStarted = 1609,
  ActiveXInstallFailed = 1234,
  PluginInstallerStarted = 1610,
  PluginInstallFailed = 1300,
  CycleEnded = 1612,

  // Version manifest
  ManifestSessionFailed = 1400,
  ManifestConnectFailed = 1401,
  ManifestRequestFailed = 1402,
  ManifestSendFailed = 1403,
  ManifestQueryAvailableFailed = 1404,
  ManifestChunkOutOfMemory = 1405,
  ManifestReadFailed = 1406,
  ManifestReceiveFailed = 1407,
  ManifestNoResponse = 1408,
  ManifestUnusable = 1409,
  ManifestDocumentOutOfMemory = 1410,
  ManifestNoVersionElement = 1411,
  ManifestResultsOutOfMemory = 1430,
  ManifestNotWellFormed = 1431,
  ManifestActiveXAttributeMissing = 1434,
  ManifestPluginAttributeMissing = 1435,
  ManifestCheckFrequencyMissing = 1436,
  ManifestNoActiveXElement = 1437,
  ManifestNoPluginElement = 1438,
  ManifestNoSauConfigElement = 1439,

  // Installer download and launch
  ActiveXDownloadStarted = 1600,
  PluginDownloadStarted = 1601,
  InstallerStarted = 1602,
  UnknownFlavour = 1200,
  DownloadTempPathFailed = 1201,
  DownloadTempFileNameFailed = 1203,
  DownloadTempFileDeleteFailed = 1205,
  DownloadFolderCreateFailed = 1206,
  DownloadFileCreateFailed = 1207,
  DownloadQueryAvailableFailed = 1209,
  DownloadChunkOutOfMemory = 1210,
  DownloadReadFailed = 1211,
  DownloadWriteFailed = 1212,
  DownloadRequestFailed = 1214,
  InstallerFileCreateFailed = 1215,
  InstallerFileWriteFailed = 1216,
  PackageVerificationFailed = 1217,
  InstallerLaunchFailed = 1218,
  CommandLineOutOfMemory = 1235,
  DownloadFileCloseFailed = 1413,
  DownloadFileDeleteFailed = 1414,
  DownloadFolderRemoveFailed = 1415,
  InstallerFileCloseFailed = 1417,
  GuidTextFailed = 1425,
  GuidFolderFallback = 1426,

  // Update mode settings
  SilentUpdateEnabled = 1607,
  AutoUpdateDisabledTrue = 1613,
  AutoUpdateDisabledFalse = 1614,
  SilentUpdateEnabledTrue = 1615,
  SilentUpdateEnabledFalse = 1616,
  DownloadHostConfigured = 1628,
  ManifestHostConfigured = 1629,
  SetModePrepareOutOfMemory = 1418,
  IsSilentPrepareOutOfMemory = 1419,
  SetModeConfigOutOfMemory = 1428,
  IsSilentConfigOutOfMemory = 1429,
  DownloadHostConversionFailed = 1237,
  ManifestHostConversionFailed = 1238,

  // Task registration and removal
  DeleteV1SchedulerFailed = 1293,
  DeleteV1CoInitializeFailed = 1294,
  DeleteV2CoInitializeFailed = 1295,
  DeleteV2SecurityFailed = 1296,
  DeleteV2ServiceFailed = 1297,
  DeleteV2ConnectFailed = 1298,
  DeleteV2FolderFailed = 1299,

  // Task definition, scheduler version 2
  V2CoInitializeFailed = 1258,
  V2SecurityFailed = 1259,
  V2ServiceFailed = 1260,
  V2ConnectFailed = 1261,
  V2FolderFailed = 1262,
  V2UpdateDefinitionFailed = 1263,
  V2UpdateTriggersFailed = 1264,
  V2UpdateCountFailed = 1265,
  V2UpdateNoTrigger = 1266,
  V2UpdateFirstTriggerFailed = 1267,
  V2UpdateRepetitionFailed = 1268,
  V2UpdateIntervalFailed = 1269,
  V2UpdateRegisterFailed = 1270,
  V2NewTaskFailed = 1271,
  V2SettingsFailed = 1272,
  V2CompatibilityFailed = 1273,
  V2BatteriesFailed = 1274,
  V2NetworkFailed = 1275,
  V2RegistrationInfoFailed = 1276,
  V2AuthorFailed = 1277,
  V2DescriptionFailed = 1278,
  V2TriggersFailed = 1279,
  V2TriggerCreateFailed = 1280,
  V2DailyTriggerFailed = 1281,
  V2TriggerIdFailed = 1282,
  V2StartBoundaryFailed = 1283,
  V2DaysIntervalFailed = 1284,
  V2RepetitionFailed = 1285,
  V2DurationFailed = 1286,
  V2IntervalFailed = 1287,
  V2ActionsFailed = 1288,
  V2ActionCreateFailed = 1289,
  V2ExecActionFailed = 1290,
  V2PathFailed = 1291,
  V2RegisterFailed = 1292,
  V2TaskUpdated = 1626,
  V2TaskCreated = 1627,

  // Task definition, scheduler version 1
  V1SchedulerFailed = 1242,
  V1CoInitializeFailed = 1243,
  V1ActivateFailed = 1244,
  V1UpdateCountFailed = 1245,
  V1UpdateNoTrigger = 1246,
  V1UpdateTriggerFailed = 1247,
  V1UpdateReadRecordFailed = 1248,
  V1UpdateWriteRecordFailed = 1249,
  V1UpdatePersistFailed = 1250,
  V1UpdateSaveFailed = 1251,
  V1NewWorkItemFailed = 1252,
  V1AccountFailed = 1253,
  V1TriggerCreateFailed = 1254,
  V1TriggerWriteFailed = 1255,
  V1PersistFailed = 1256,
  V1SaveFailed = 1257,
  V1CreatorFailed = 1421,
  V1CommentFailed = 1422,
  V1ApplicationFailed = 1423,
  V1FlagsFailed = 1424,
  V1TaskUpdated = 1624,
  V1TaskCreated = 1625,
};

// What a line that carries the code holds after it.
enum class MessageArgument : std::uint8_t {
  None,         // the code alone
  LastError,    // a blank and the thread's last Windows error code
  Number,       // a blank and another number (a service control code)
  Text,         // a blank and a text (a host name)
  Either,       // the code alone or with the last Windows error, by the step
};

struct MessageInfo {
  std::int32_t code;
  LogLevel level;
  MessageArgument argument;
  const char* meaning;  // one line of plain English
};

// The whole table, in ascending order of code.
const MessageInfo* MessageCatalogue();
std::size_t MessageCatalogueSize();

// The entry of a code, or null for a number the program never writes.
const MessageInfo* FindMessage(std::int32_t code);
const MessageInfo& MessageFor(MessageCode code);
