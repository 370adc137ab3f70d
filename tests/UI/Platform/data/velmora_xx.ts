<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name></name>
    <message id="PLX_FOUR_SELECT_FILES">
        <source>PLX_FOUR_SELECT_FILES</source>
        <translation>Sélection : %d fichiers, %@</translation>
    </message>
    <message id="PLX_FOUR_RECOVER_NOTEND_NODE">
        <source>PLX_FOUR_RECOVER_NOTEND_NODE</source>
        <translation>Arrêt à %n%%</translation>
    </message>
    <message id="PLX_FOUR_ALL_FILES">
        <source>PLX_FOUR_ALL_FILES</source>
        <translation>Trouvé %@ dans %d fichiers et %@</translation>
    </message>
    <message id="PLX_FOUR_SCAN_STOP_TITLE">
        <source>PLX_FOUR_SCAN_STOP_TITLE</source>
        <translation>Arrêter l'analyse ?</translation>
    </message>
</context>
</TS>
