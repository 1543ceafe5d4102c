<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" tiledversion="1.8.2" name="fields" tilewidth="8" tileheight="8" tilecount="12" columns="8">
 <image source="fields.png" width="64" height="16"/>
</tileset>
